// A reopen after an unplug, and the host calls that come during the load
// that follows it.
#include "sim_harness.h"

#include "usb_func/device_session.h"

namespace zef::test {
namespace {

// Hosts call InitHW again at odd moments. One that lands during the load
// after a reopen must neither reset the host's LO nor start a second load.
TEST_F(SimulatedInstrument, InitHWDuringTheLoadAfterAReopenLeavesTheLoadAndTheLo) {
    constexpr std::int32_t kLo = 14070000;
    startStreaming(kLo);
    ASSERT_TRUE(blocksArrive(5));
    zefsim_set_fault(ZEFSIM_NEVER_READY, 1); // the reload's ready wait then lasts a second
    zefsim_unplug(0);
    zefsim_replug(0);
    ASSERT_EQ(zef::startHW(kLo), 512);
    ASSERT_TRUE(zef::loadUnderWay());
    EXPECT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
    EXPECT_EQ(zef::getHWLO(), kLo);
    EXPECT_EQ(counters().opens, 2U);
    ASSERT_TRUE(waitUntil([] { return !zef::loadUnderWay(); }));
    EXPECT_EQ(counters().start_commands, 2U);
    EXPECT_EQ(counters().opens, 2U);
}

// A pulled cable put back while the host streams: no host call follows, yet
// the instrument is opened and loaded again, hears its tuning again, and the
// blocks come again. Nothing reaches the closed handle meanwhile.
TEST_F(SimulatedInstrument, AReplugWhileStreamingResumesWithoutTheHost) {
    startStreaming(14070000);
    zef::tuneChanged(14071000);
    zef::modeChanged('U');
    ASSERT_TRUE(blocksArrive(10));
    std::array<std::uint8_t, 65> before{};
    const std::uint64_t heard = zefsim_last_settings(before.data());
    ASSERT_GT(heard, 0U);
    zefsim_unplug(0);
    ASSERT_TRUE(waitUntil([] { return counters().closes >= 1; })) << "the loss is noticed";
    zefsim_replug(0);
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 2; }));
    ASSERT_TRUE(waitUntil([&] { return zefsim_last_settings(nullptr) > heard; }));
    std::array<std::uint8_t, 65> after{};
    zefsim_last_settings(after.data());
    EXPECT_EQ(after, before);
    EXPECT_TRUE(blocksArrive(20));
    EXPECT_EQ(counters().closed_handle_calls, 0U);
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 0);
}

} // namespace
} // namespace zef::test

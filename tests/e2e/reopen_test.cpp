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

} // namespace
} // namespace zef::test

// Faults injected at usbdevfs while the plug-in streams through the open
// driver: URB errors, cut-short transfers, a bridge that hangs, unplugs in
// the middle of the load, of a settings write and of the stream, and a
// replug storm. Each holds to PluginOnBridge::expectSoundBoundary.
#include "plugin_on_bridge.h"

#include <cerrno>
#include <ostream>
#include <thread>

namespace zef::usbtest {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

struct UrbFaultCase {
    const char* name;
    UrbKind kind;
    UrbFault fault;
    std::size_t count;
};

// None of these loses a byte on the wire: the transfer that meets one
// carries nothing, or ends early, and the bridge keeps what it held.
const UrbFaultCase kLosslessFaults[] = {
    {"BulkInProtocolError", UrbKind::BulkIn, {.status = -EPROTO}, 2},
    {"BulkInStall", UrbKind::BulkIn, {.status = -EPIPE}, 2},
    {"BulkInBabble", UrbKind::BulkIn, {.status = -EOVERFLOW}, 2},
    {"BulkInTimeout", UrbKind::BulkIn, {.status = -ETIMEDOUT}, 2},
    {"BulkInSubmitOutOfMemory", UrbKind::BulkIn, {.submitErrno = ENOMEM}, 20},
    {"ShortPackets", UrbKind::BulkIn, {.shortIn = true}, 200},
    {"ZeroLengthPackets", UrbKind::BulkIn, {.zeroLength = true}, 200},
};

void PrintTo(const UrbFaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

class LosslessUrbFaults : public PluginOnBridge,
                          public testing::WithParamInterface<UrbFaultCase> {};

TEST_P(LosslessUrbFaults, TheStreamGoesOnWithoutALostFrame) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    bridge().faults(
        [](UrbFaults& f) { f.inject(GetParam().kind, GetParam().fault, GetParam().count); });
    ASSERT_TRUE(blocksArrive(130)) << "the stream goes on";
    EXPECT_GT(bridge().faults([](UrbFaults& f) { return f.injected(); }), 0U);
    EXPECT_EQ(delivered.gaps.load(), 0U);
    EXPECT_EQ(delivered.restarts.load(), 0U) << "no reopen for a fault the link survives";
    expectSoundBoundary();
}

INSTANTIATE_TEST_SUITE_P(Injected, LosslessUrbFaults, testing::ValuesIn(kLosslessFaults),
                         [](const auto& test) { return std::string(test.param.name); });

// Errors on every transfer make a dead link: the driver says so, and the
// plug-in reopens and sends its tuning again once the bridge recovers.
TEST_F(PluginOnBridge, ADeadLinkIsReopenedWithTheTuningSentAgain) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    bridge().faults([](UrbFaults& f) { f.inject(UrbKind::BulkIn, {.status = -EPROTO}, SIZE_MAX); });
    std::this_thread::sleep_for(seconds(1));
    zef::setHWLO(kLo + 1000);
    bridge().faults([](UrbFaults& f) { f.calm(); });
    ASSERT_TRUE(blocksArrive(130, seconds(30))) << "the stream resumes by itself";
    EXPECT_GT(delivered.restarts.load(), 0U) << "reopened, and the gateware loaded again";
    EXPECT_TRUE(tuningOnTheWire());
    expectSoundBoundary();
}

// A failed settings write: the frame goes again, and nothing else breaks.
TEST_F(PluginOnBridge, AFailedSettingsWriteIsSentAgain) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    bridge().faults([](UrbFaults& f) { f.inject(UrbKind::BulkOut, {.status = -EPROTO}, 1); });
    zef::setHWLO(kLo + 2000);
    EXPECT_TRUE(tuningOnTheWire());
    ASSERT_TRUE(blocksArrive(65, seconds(30)));
    expectSoundBoundary();
}

// A bridge that hangs answers nothing, control requests included: every call
// still comes back within its time-out, and the stream resumes after.
TEST_F(PluginOnBridge, ABridgeThatStopsAnsweringHoldsNoCallPastItsTimeout) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    bridge().faults([](UrbFaults& f) { f.silence(true); });
    zef::setHWLO(kLo + 3000);
    std::this_thread::sleep_for(seconds(3));
    bridge().faults([](UrbFaults& f) { f.silence(false); });
    ASSERT_TRUE(blocksArrive(130, seconds(30)));
    EXPECT_TRUE(tuningOnTheWire());
    expectSoundBoundary();
}

// The worker loads the gateware after InitHW; the cable goes halfway through.
TEST_F(PluginOnBridge, AnUnplugDuringTheLoadEndsInALoadAfterTheReplug) {
    startStreaming();
    ASSERT_TRUE(test::waitUntil([&] {
        return bridge().with([](BridgeChannel& c) { return c.wire().bitBang.size(); }) > 100000;
    }));
    unplug();
    std::this_thread::sleep_for(milliseconds(200));
    plugIn();
    ASSERT_TRUE(blocksArrive(65, seconds(30))) << "the stream starts by itself";
    EXPECT_EQ(
        bridge().with([](BridgeChannel& c) { return c.environment().counters.configs_accepted; }),
        1U);
    EXPECT_TRUE(tuningOnTheWire());
    expectSoundBoundary();
}

// The bridge hangs with a settings frame on its way, then is pulled out.
TEST_F(PluginOnBridge, AnUnplugDuringASettingsWriteResumesWithTheNewTuning) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    bridge().faults([](UrbFaults& f) { f.silence(true); });
    zef::setHWLO(kLo + 4000);
    std::this_thread::sleep_for(milliseconds(300));
    unplug();
    std::this_thread::sleep_for(milliseconds(300));
    plugIn();
    ASSERT_TRUE(blocksArrive(130, seconds(30))) << "the stream resumes by itself";
    EXPECT_TRUE(tuningOnTheWire());
    EXPECT_EQ(zef::getHWLO(), kLo + 4000);
    expectSoundBoundary();
}

TEST_F(PluginOnBridge, AReplugStormEndsWithTheStreamAndItsTuning) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(milliseconds(50 + 40 * i));
        unplug();
        std::this_thread::sleep_for(milliseconds(30 + 20 * (i % 3)));
        plugIn();
        zef::setHWLO(kLo + 100 * i);
    }
    ASSERT_TRUE(blocksArrive(130, seconds(30))) << "the stream resumes by itself";
    EXPECT_TRUE(tuningOnTheWire());
    expectSoundBoundary();
}

} // namespace
} // namespace zef::usbtest

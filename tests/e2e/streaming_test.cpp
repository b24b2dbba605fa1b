// The whole road from StartHW to the host's callback, against the simulated
// instrument in test-pattern mode.
#include "sim_harness.h"

namespace zef::test {
namespace {

TEST_F(SimulatedInstrument, EveryFrameArrivesOnceAndInOrder) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(300));
    zef::stopHW();
    EXPECT_EQ(delivery.badCount.load(), 0U);
    EXPECT_EQ(delivery.badPattern.load(), 0U);
    EXPECT_EQ(delivery.outOfOrder.load(), 0U);
    EXPECT_EQ(delivery.gaps.load(), 0U) << "a clean link loses no frame";
    const zefsim_counters c = counters();
    EXPECT_EQ(c.configs_accepted, 1U);
    EXPECT_GE(c.settings_received, 1U);
}

TEST_F(SimulatedInstrument, StopHaltsDeliveryAndStartResumesIt) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));
    zef::stopHW();
    ASSERT_TRUE(workerParsedAllSent()) << "the pass in flight at the stop finishes";
    const std::uint64_t stopped = delivery.blocks.load();
    const std::uint64_t sentBefore = counters().sample_frames_sent;
    ASSERT_TRUE(waitUntil([&] { return counters().sample_frames_sent > sentBefore + 20; }))
        << "the device keeps streaming";
    ASSERT_TRUE(workerParsedAllSent());
    EXPECT_EQ(delivery.blocks.load(), stopped) << "frames parsed while stopped reach no one";

    const std::uint64_t opens = counters().opens;
    EXPECT_EQ(zef::startHW(7050000), 512);
    ASSERT_TRUE(blocksArrive(20));
    EXPECT_EQ(counters().opens, opens) << "an intact link is not reopened";
    EXPECT_EQ(counters().configs_accepted, 1U);
    EXPECT_EQ(delivery.badPattern.load(), 0U);
}

TEST_F(SimulatedInstrument, CorruptedBytesNeverReachTheHost) {
    zefsim_set_fault(ZEFSIM_CORRUPT_RATE, 2e-5);
    startStreaming();
    ASSERT_TRUE(blocksArrive(400));
    zef::stopHW();
    EXPECT_GT(counters().bytes_corrupted, 0U);
    EXPECT_EQ(delivery.badPattern.load(), 0U) << "single-bit errors are always detected";
    EXPECT_EQ(delivery.outOfOrder.load(), 0U);
    EXPECT_GT(delivery.gaps.load(), 0U) << "damaged frames are dropped";
}

TEST_F(SimulatedInstrument, DroppedBytesStayWithinTheCrcBound) {
    zefsim_set_fault(ZEFSIM_DROP_RATE, 2e-5);
    startStreaming();
    ASSERT_TRUE(blocksArrive(400));
    zef::stopHW();
    EXPECT_GT(counters().bytes_dropped, 0U);
    // A dropped byte shifts the frame; the CRC lets one in 65536 through.
    EXPECT_LE(delivery.badPattern.load(), 1U + delivery.blocks.load() / 65536U);
}

TEST_F(SimulatedInstrument, UnplugThenStartReopensAndStreamsAgain) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(10));
    zefsim_unplug(0);
    ASSERT_TRUE(workerRunsPasses(2)) << "the worker meets the unplugged device";
    zefsim_replug(0);
    const std::uint64_t opens = counters().opens;
    EXPECT_EQ(zef::startHW(7050000), 512);
    EXPECT_EQ(counters().opens, opens + 1) << "the failed link check reopens";
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 0);
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 2; }))
        << "the FPGA is configured again";
    ASSERT_TRUE(blocksArrive(20));
    EXPECT_EQ(delivery.badPattern.load(), 0U);
}

TEST_F(SimulatedInstrument, CloseThenStartStreamsAgain) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(10));
    zef::closeHW();
    EXPECT_GE(counters().closes, 1U);
    EXPECT_TRUE(zef::deviceState.firstInit.load());
    EXPECT_EQ(zef::startHW(7050000), 512);
    ASSERT_TRUE(blocksArrive(20)) << "StartHW after CloseHW reopens and restarts the worker";
}

TEST_F(SimulatedInstrument, SecondInitAfterReadyOnlyRefillsTheOutputs) {
    startStreaming();
    ASSERT_TRUE(waitUntil([] { return zef::deviceState.deviceReady.load(); }));
    zef::setHWLO(14000000);
    const std::uint64_t opens = counters().opens;
    const auto* worker = zef::deviceState.worker.load();
    char name[64] = {};
    char model[64] = {};
    int type = 0;
    EXPECT_TRUE(zef::initHW(name, model, &type));
    EXPECT_STREQ(name, "ZEF418 v3.02");
    EXPECT_STREQ(model, "3.xx");
    EXPECT_EQ(type, 3);
    EXPECT_EQ(counters().opens, opens) << "no reopen";
    EXPECT_EQ(zef::deviceState.worker.load(), worker) << "no new worker";
    EXPECT_EQ(zef::getHWLO(), 14000000) << "LO unchanged";
}

TEST_F(SimulatedInstrument, StartBeforeInitOpensButConfiguresOnlyAfterInit) {
    EXPECT_EQ(zef::startHW(7100000), 512);
    EXPECT_EQ(counters().opens, 1U);
    EXPECT_TRUE(zef::deviceState.configNeeded.load());
    EXPECT_EQ(zef::deviceState.worker.load(), nullptr) << "no worker before InitHW";

    zef::setCallback(&recordBlock);
    EXPECT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
    EXPECT_EQ(zef::getHWLO(), 7050000) << "InitHW sets the default LO again";
    EXPECT_EQ(counters().opens, 2U) << "and opens again";
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 1; }));
    ASSERT_TRUE(blocksArrive(10));
    EXPECT_EQ(counters().configs_accepted, 1U) << "nothing loaded the FPGA before InitHW";
}

} // namespace
} // namespace zef::test

namespace zef::test {
namespace {

TEST_F(SimulatedInstrument, AbandonedLoadWaitsForTheNextStart) {
    zefsim_set_fault(ZEFSIM_FAIL_WRITES, 1); // the program pulse
    zef::setCallback(&recordBlock);
    ASSERT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
    ASSERT_TRUE(waitUntil([] { return zef::deviceState.driverStatus.load() == 4; }));
    zef::tuneChanged(7050000); // must not be sent to a device without gateware
    ASSERT_TRUE(workerRunsPasses(3));
    EXPECT_EQ(counters().settings_received, 0U);
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 4) << "the failure stays visible";

    EXPECT_EQ(zef::startHW(7050000), 512);
    EXPECT_EQ(counters().opens, 2U) << "StartHW reopens";
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 1; }));
    ASSERT_TRUE(blocksArrive(10));
}

} // namespace
} // namespace zef::test

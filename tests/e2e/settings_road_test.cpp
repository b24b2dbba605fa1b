// Settings frames as the simulated instrument receives them, and their
// effect on the delivered samples.
#include "sim_harness.h"

#include "fft_peak.h"
#include "sim/settings_decoder.h"

#include <optional>

namespace zef::test {
namespace {

std::optional<sim::DecodedSettings> lastSettings() {
    std::uint8_t frame[65];
    if (zefsim_last_settings(frame) == 0) {
        return std::nullopt;
    }
    return sim::decodeSettings(std::span<const std::uint8_t>(frame, 65));
}

TEST_F(SimulatedInstrument, HostCallsReachTheDeviceAsOneFrame) {
    startStreaming(7050000);
    zef::tuneChanged(7050000);
    zef::modeChanged('U');
    ASSERT_TRUE(waitUntil([] {
        const auto s = lastSettings();
        return s && s->mode == 2 && s->tuneWord == 0x0906B4E5U;
    }));
    const auto s = lastSettings();
    EXPECT_EQ(s->loWord, 0x090624DDU);
    EXPECT_EQ(s->tuneFrequency, 7050000);
    EXPECT_EQ(s->flags, 0x80) << "plain driver";
    ASSERT_TRUE(blocksArrive(20));
    EXPECT_TRUE(zef::deviceState.settingsAcked.load());
}

TEST_F(SimulatedInstrument, TuneDuringTheAckWaitSendsASecondFrame) {
    zefsim_set_fault(ZEFSIM_NEVER_ACK, 1);
    startStreaming();
    ASSERT_TRUE(waitUntil([] { return counters().settings_received >= 1; }));
    const std::uint64_t first = counters().settings_received;
    zef::tuneChanged(7060000); // lands while the worker waits for the ack
    ASSERT_TRUE(waitUntil([&] { return counters().settings_received > first; }));
    EXPECT_EQ(lastSettings()->tuneFrequency, 7060000);
}

TEST_F(SimulatedInstrument, UnacknowledgedFrameIsNotResent) {
    zefsim_set_fault(ZEFSIM_NEVER_ACK, 1);
    // Few driver signals, so that the worker's own resets of RxEvent show.
    zefsim_set_timing(ZEFSIM_REALTIME);
    zefsim_set_transfer_size(65536);
    startStreaming();
    ASSERT_TRUE(waitUntil([] { return counters().settings_received >= 1; }));
    // The ack wait runs inside a pass: two passes after it, every frame
    // pending since the start has been sent and waited for.
    ASSERT_TRUE(workerRunsPasses(2));
    const std::uint64_t settled = counters().settings_received;
    ASSERT_TRUE(workerRunsPasses(3));
    EXPECT_EQ(counters().settings_received, settled) << "no resend until a value changes";
    zef::setHWLO(7000000);
    ASSERT_TRUE(waitUntil([&] { return counters().settings_received == settled + 1; }));
    EXPECT_TRUE(blocksArrive(10)) << "samples flow during and after the waits";
}

TEST_F(SimulatedInstrument, FailedFrameWriteMakesTheNextStartReopen) {
    startStreaming();
    ASSERT_TRUE(blocksArrive(10));
    const std::uint64_t frames = counters().settings_received;
    zefsim_set_fault(ZEFSIM_FAIL_WRITES, 2); // the preamble and the frame
    zef::tuneChanged(7055000);
    ASSERT_TRUE(waitUntil([] { return zef::deviceState.driverStatus.load() != 0; }));
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 4) << "the frame write's I/O error";
    EXPECT_EQ(counters().settings_received, frames);

    const std::uint64_t opens = counters().opens;
    EXPECT_EQ(zef::startHW(7050000), 512);
    EXPECT_EQ(counters().opens, opens + 1);
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 2; }));
    ASSERT_TRUE(waitUntil([] { return lastSettings()->tuneFrequency == 7055000; }));
}

// Strongest frequency of the captured I/Q, as an offset from the LO in hertz.
double capturedPeak() {
    delivery.armCapture();
    EXPECT_TRUE(waitUntil([] { return delivery.captured.load(std::memory_order_acquire); }));
    host::SpectrumAnalyzer analyzer(65104, Delivery::kCaptureBlocks * 512);
    analyzer.add(delivery.capture.data(), Delivery::kCaptureBlocks * 512);
    const auto peak = analyzer.peak();
    EXPECT_TRUE(peak.has_value());
    return peak ? peak->offsetHz : 0.0;
}

TEST_F(SimulatedInstrument, CarrierAppearsAtItsOffsetFromTheLo) {
    constexpr double kBin = 65104.0 / 8192.0;
    zefsim_set_signal(ZEFSIM_SIGNAL, 7051000.0, 8000.0);
    startStreaming(7050000);
    ASSERT_TRUE(blocksArrive(10));
    EXPECT_NEAR(capturedPeak(), 1000.0, kBin);

    const std::uint64_t frames = counters().settings_received;
    zef::setHWLO(7053000);
    ASSERT_TRUE(waitUntil([&] { return counters().settings_received > frames; }));
    ASSERT_TRUE(blocksArrive(4)); // blocks made before the retune drain away
    EXPECT_NEAR(capturedPeak(), -2000.0, kBin);
}

} // namespace
} // namespace zef::test

// The real-time receive side through D2XX, as a host sees it: one event per
// completed transfer, FT_Read's time-out, the receive buffer's overflow, and
// a producer that keeps the instrument's time whatever the reader does.
#include "platform/platform.h"
#include "sim_fixture.h"

#include <cstdint>

namespace zef::sim::test {
namespace {

using ReceiveSide = SimTest;

constexpr double kStreamBytesPerSecond = 65104.0 / 512.0 * 2076.0;
constexpr double kFramesPerSecond = 65104.0 / 512.0;

double dataPerTransfer(std::size_t transferBytes) {
    return static_cast<double>(transferBytes / 64 * 62);
}

double secondsSince(std::uint64_t startUs) {
    return static_cast<double>(platform::nowMicroseconds() - startUs) / 1e6;
}

// Sample frames in order from 0, each once; returns how many.
std::int64_t checkContinuity(const Bytes& stream) {
    std::int64_t expected = 0;
    for (const Frame& f : splitFrames(stream)) {
        EXPECT_TRUE(f.crcGood);
        if (f.type != kStatusType) {
            EXPECT_EQ(patternFrameNumber(f.body.data()), expected);
            ++expected;
        }
    }
    return expected;
}

// A reader that waits on the event, as the plug-in's worker does: about one
// wake per transfer, every byte once and in order.
TEST_F(ReceiveSide, OneEventPerCompletedTransfer) {
    for (const std::uint32_t transferBytes : {4096U, 16384U}) {
        zefsim_reset();
        zefsim_set_transfer_size(transferBytes);
        const FT_HANDLE h = openRealtime();
        platform::Event event;
        ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
        startDevice(h);
        Bytes stream;
        const std::uint64_t start = platform::nowMicroseconds();
        while (secondsSince(start) < 1.0) {
            event.wait(100);
            const Bytes got = readQueued(h);
            stream.insert(stream.end(), got.begin(), got.end());
        }
        const double seconds = secondsSince(start);
        const zefsim_counters c = counters();
        const double perSecond = static_cast<double>(c.events_signalled) / seconds;
        const double expected = kStreamBytesPerSecond / dataPerTransfer(transferBytes);
        EXPECT_NEAR(perSecond, expected, 0.15 * expected + 3) << transferBytes;
        EXPECT_LE(perSecond, 100.0);
        EXPECT_LE(c.events_signalled, c.rx_transfers);
        EXPECT_GE(c.events_signalled + 1, c.rx_transfers);
        EXPECT_GE(checkContinuity(stream), 100) << transferBytes;
        EXPECT_EQ(c.rx_overflow_bytes, 0U);
        ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
    }
}

TEST_F(ReceiveSide, ReadWaitsUpToItsTimeoutForWhatIsNotQueued) {
    const struct {
        bool streaming;
        ULONG timeoutMs;
        DWORD wanted;
        bool allArrive;
        double minSeconds;
        double maxSeconds;
    } cases[] = {
        {false, 80, 100, false, 0.075, 0.5},  // nothing comes: the whole time-out
        {false, 0, 100, false, 0.0, 0.02},    // no time-out: what is queued, at once
        {true, 2000, 20000, true, 0.05, 0.5}, // enough comes well within it
    };
    for (const auto& c : cases) {
        zefsim_reset();
        const FT_HANDLE h = openRealtime();
        ASSERT_EQ(FT_SetTimeouts(h, c.timeoutMs, 500), 0U);
        if (c.streaming) {
            startDevice(h);
            platform::sleepMs(20);
            readQueued(h);
        }
        Bytes buffer(c.wanted);
        DWORD got = 0;
        const std::uint64_t start = platform::nowMicroseconds();
        ASSERT_EQ(FT_Read(h, buffer.data(), c.wanted, &got), 0U);
        const double seconds = secondsSince(start);
        EXPECT_EQ(got == c.wanted, c.allArrive) << c.timeoutMs;
        EXPECT_GE(seconds, c.minSeconds) << c.timeoutMs;
        EXPECT_LE(seconds, c.maxSeconds) << c.timeoutMs;
    }
}

// A reader that stops for 300 ms overflows a small buffer; the loss is
// counted, and every byte that crossed the line is either read, still
// queued, counted as lost or in the transfer not yet complete.
TEST_F(ReceiveSide, SlowReaderOverflowsTheBufferAndIsTold) {
    constexpr std::uint32_t kCapacity = 16384;
    zefsim_set_receive_capacity(kCapacity);
    const FT_HANDLE h = openRealtime();
    startDevice(h);
    platform::sleepMs(300);
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_LE(queued, kCapacity);
    EXPECT_GT(queued, kCapacity - dataPerTransfer(4096));
    const std::size_t read = readQueued(h).size();
    const zefsim_counters c = counters();
    EXPECT_GT(c.rx_overflow_bytes, 0U);
    EXPECT_LE(read + c.rx_overflow_bytes, c.bytes_sent);
    EXPECT_GE(read + c.rx_overflow_bytes + 4096, c.bytes_sent);
}

// The instrument's clock does not depend on the reader: one that asks for
// the queue all the time, one that leaves it alone for 200 ms.
TEST_F(ReceiveSide, ProducerKeepsTheInstrumentsTime) {
    for (const bool tight : {true, false}) {
        zefsim_reset();
        const FT_HANDLE h = openRealtime();
        platform::Event event;
        ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
        startDevice(h);
        platform::sleepMs(20);
        readQueued(h);
        const zefsim_counters before = counters();
        const std::uint64_t start = platform::nowMicroseconds();
        std::uint64_t calls = 0;
        if (tight) {
            for (DWORD queued = 0; secondsSince(start) < 0.5; ++calls) {
                ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
            }
        } else {
            platform::sleepMs(200);
        }
        const double seconds = secondsSince(start);
        const zefsim_counters after = counters();
        const double frames =
            static_cast<double>(after.sample_frames_sent - before.sample_frames_sent) / seconds;
        EXPECT_NEAR(frames, kFramesPerSecond, 0.06 * kFramesPerSecond) << tight;
        const double events =
            static_cast<double>(after.events_signalled - before.events_signalled) / seconds;
        EXPECT_NEAR(events, kStreamBytesPerSecond / dataPerTransfer(4096), 12.0)
            << tight << ", " << calls << " calls";
        DWORD queued = 0;
        ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
        EXPECT_GT(static_cast<double>(queued), 0.6 * seconds * kStreamBytesPerSecond) << tight;
        ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
    }
}

} // namespace
} // namespace zef::sim::test

// The real-time receive side through D2XX, as only the simulator can show
// it: one event per completed transfer of the configured size, the receive
// buffer's configured capacity, fast timing's reads, and a driver thread that
// keeps the instrument's time and signals while nobody calls. Each check
// waits on a counter and then checks exact accounting; none measures a rate.
#include "platform/platform.h"
#include "sim_fixture.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace zef::sim::test {
namespace {

using ReceiveSide = SimTest;

template <typename Predicate> bool waitFor(Predicate done, int seconds = 10) {
    const std::uint64_t until = platform::nowMicroseconds() + std::uint64_t(seconds) * 1000000U;
    while (!done()) {
        if (platform::nowMicroseconds() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::size_t dataPerTransfer(std::size_t transferBytes) {
    return transferBytes / 64 * 62;
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

// A reader that waits on the event, as the plug-in's worker does: one signal
// per completed transfer, and every transfer after the first few (the ready
// status ends its own with a short packet) full, whatever the reader's pace.
TEST_F(ReceiveSide, OneEventPerCompletedTransferOfItsSize) {
    const struct {
        std::uint32_t transferBytes;
        std::uint64_t transfers;
    } cases[] = {{4096, 30}, {16384, 8}};
    for (const auto [transferBytes, transfers] : cases) {
        zefsim_reset();
        zefsim_set_transfer_size(transferBytes);
        const FT_HANDLE h = openRealtime();
        platform::Event event;
        ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
        startDevice(h);
        Bytes stream;
        ASSERT_TRUE(waitFor([&] {
            event.wait(100);
            const Bytes got = readQueued(h);
            stream.insert(stream.end(), got.begin(), got.end());
            return counters().rx_transfers >= transfers;
        }));
        ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
        const Bytes rest = readQueued(h);
        stream.insert(stream.end(), rest.begin(), rest.end());
        const zefsim_counters c = counters();
        EXPECT_LE(c.events_signalled, c.rx_transfers) << transferBytes;
        EXPECT_GE(c.events_signalled + 1, c.rx_transfers) << transferBytes;
        EXPECT_LE(stream.size(), c.rx_transfers * dataPerTransfer(transferBytes));
        EXPECT_GE(stream.size(), (c.rx_transfers - 2) * dataPerTransfer(transferBytes));
        const auto frames = static_cast<std::int64_t>(
            (transfers - 2) * dataPerTransfer(transferBytes) / kSampleFrameBytes);
        EXPECT_GE(checkContinuity(stream), frames) << transferBytes;
        EXPECT_EQ(c.rx_overflow_bytes, 0U);
    }
}

// A reader that stops fills a small buffer until it has no room for another
// transfer; it holds the stream from its start, whole, the line is held
// meanwhile, and the gateware drops whole frames once its FIFO is full.
TEST_F(ReceiveSide, FullBufferHoldsTheOldestBytesAndTheGatewareCountsItsLoss) {
    constexpr std::uint32_t kCapacity = 16384;
    zefsim_set_receive_capacity(kCapacity);
    const FT_HANDLE h = openRealtime();
    startDevice(h);
    ASSERT_TRUE(waitFor([] { return counters().sample_frames_overrun > 0; }));
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_LE(queued, kCapacity);
    EXPECT_GT(queued + dataPerTransfer(4096), kCapacity);
    const Bytes held = readQueued(h);
    EXPECT_GE(checkContinuity(held), 6);
    const zefsim_counters c = counters();
    EXPECT_LE(held.size(), c.bytes_sent);
    EXPECT_GE(held.size() + dataPerTransfer(4096) + 62, c.bytes_sent);
    EXPECT_EQ(c.rx_overflow_bytes, 0U);
}

// Fast timing has no clock to wait for: a read returns what is queued at
// once, whatever its time-out.
TEST_F(ReceiveSide, FastTimingReadsWhatIsQueuedAtOnce) {
    const FT_HANDLE h = addAndOpen();
    ASSERT_EQ(FT_SetTimeouts(h, 0, 0), 0U);
    Bytes buffer(100);
    DWORD got = 1;
    ASSERT_EQ(FT_Read(h, buffer.data(), 100, &got), 0U);
    EXPECT_EQ(got, 0U);
}

// Nobody calls the driver: its own thread keeps the instrument's time and
// signals every transfer.
TEST_F(ReceiveSide, DriverThreadKeepsTheInstrumentsTimeWhileNobodyCalls) {
    const FT_HANDLE h = openRealtime();
    platform::Event event;
    ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
    startDevice(h);
    const zefsim_counters before = counters();
    ASSERT_TRUE(
        waitFor([&] { return counters().sample_frames_sent >= before.sample_frames_sent + 40; }));
    const zefsim_counters after = counters();
    const std::uint64_t n = after.sample_frames_sent - 3;
    const std::uint64_t first = zefsim_frame_time_us(n - 30);
    ASSERT_GT(first, 0U);
    EXPECT_NEAR(static_cast<double>(zefsim_frame_time_us(n) - first) / 30.0, 512e6 / 65104.0,
                500.0);
    EXPECT_GE(after.rx_transfers - before.rx_transfers, 15U);
    EXPECT_GE(after.events_signalled + 1, after.rx_transfers);
    ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
}

} // namespace
} // namespace zef::sim::test

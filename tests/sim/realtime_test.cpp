// Real-time timing: the frame clock, event signalling and bit-bang pacing by
// the bus. Every check waits on a counter or the driver's own answers; the
// only times compared are lower bounds, which a loaded machine cannot break.
#include "platform/platform.h"
#include "sim/usb_bus.h"
#include "sim_fixture.h"

#include <chrono>
#include <thread>

namespace zef::sim::test {
namespace {

using Realtime = SimTest;

constexpr std::uint64_t kFullSpeedBytesPerSecond = 1216000;

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

// The frames keep the instrument's clock: 512 pairs at 65104 pairs a second
// apart, as recorded when they became readable; what was read is what
// crossed the line, less at most a transfer and a packet still on their way.
TEST_F(Realtime, FramesKeepTheInstrumentsClockAndEveryByteIsAccounted) {
    const FT_HANDLE h = openRealtime();
    startDevice(h);
    std::size_t read = 0;
    ASSERT_TRUE(waitFor([&] {
        read += readQueued(h).size();
        return counters().sample_frames_sent >= 50;
    }));
    const std::uint64_t n = counters().sample_frames_sent - 3;
    const std::uint64_t last = zefsim_frame_time_us(n);
    const std::uint64_t first = zefsim_frame_time_us(n - 40);
    ASSERT_GT(first, 0U);
    ASSERT_GT(last, first);
    // Readable times come in whole transfers (15 ms), so 40 frames span
    // their period within 0.4 ms each.
    EXPECT_NEAR(static_cast<double>(last - first) / 40.0, 512e6 / 65104.0, 400.0);
    read += readQueued(h).size();
    const zefsim_counters c = counters();
    EXPECT_LE(read, c.bytes_sent);
    EXPECT_LE(c.bytes_sent, read + 64 * 62 + 62);
    EXPECT_EQ(c.rx_overflow_bytes, 0U);
}

TEST_F(Realtime, RegisteredEventIsSignalledWhenBytesArrive) {
    const FT_HANDLE h = openRealtime();
    platform::Event event;
    ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
    startDevice(h);
    ASSERT_TRUE(waitFor([&] { return event.wait(100) && counters().events_signalled > 0; }));
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_GT(queued, 0U);
    ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
}

// A bit-bang write crosses a full-speed bus at 1.216 MB/s at most (slower
// than the 3 MBd pins), returns once all but the driver's 4096-byte buffer
// has gone, and the transmit count then falls to 0 no sooner than the bus
// allows. The lower bounds hold however late this thread runs.
TEST_F(Realtime, BitBangWritesArePacedByTheBusAndDrain) {
    const FT_HANDLE h = openRealtime();
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
    for (const std::size_t n : {std::size_t{30000}, std::size_t{3000}}) {
        const Bytes idle(n, 0x80);
        const std::uint64_t start = platform::nowMicroseconds();
        ASSERT_EQ(writeAll(h, idle), 0U);
        const std::uint64_t returned = platform::nowMicroseconds();
        if (n > 4096) {
            EXPECT_GE(returned - start, (n - 4096) * 1000000U / kFullSpeedBytesPerSecond) << n;
        }
        DWORD rx = 0;
        DWORD tx = 0;
        DWORD events = 0;
        ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &events), 0U);
        EXPECT_LE(tx, std::min<std::size_t>(n, 4096)) << n;
        ASSERT_TRUE(waitFor([&] { return FT_GetStatus(h, &rx, &tx, &events) == 0 && tx == 0; }));
        EXPECT_GE(platform::nowMicroseconds() - start, n * 1000000U / kFullSpeedBytesPerSecond)
            << n << " bytes drained";
    }
    EXPECT_EQ(counters().bitbang_bytes, 33000U);
}

} // namespace
} // namespace zef::sim::test

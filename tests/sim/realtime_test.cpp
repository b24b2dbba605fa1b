// Real-time timing: the wire rate, the frame clock, event signalling and
// bit-bang pacing.
#include "platform/platform.h"
#include "sim_fixture.h"

namespace zef::sim::test {
namespace {

using Realtime = SimTest;

constexpr double kWireBytesPerSecond = 65104.0 / 512.0 * 2076.0; // samples plus framing

TEST_F(Realtime, BytesArriveAtTheDeviceRate) {
    const FT_HANDLE h = openRealtime();
    startDevice(h);
    platform::sleepMs(50);
    readQueued(h);
    const std::uint64_t start = platform::nowMicroseconds();
    std::size_t bytes = 0;
    DWORD lastQueued = 0;
    bool grew = false;
    while (platform::nowMicroseconds() - start < 500000) {
        DWORD queued = 0;
        ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
        grew = grew || queued > lastQueued;
        lastQueued = queued;
        if (queued > 20000) {
            bytes += readQueued(h).size();
            lastQueued = 0;
        }
        platform::sleepMs(2);
    }
    bytes += readQueued(h).size();
    const double rate =
        static_cast<double>(bytes) * 1e6 / static_cast<double>(platform::nowMicroseconds() - start);
    EXPECT_TRUE(grew);
    EXPECT_GT(rate, 0.7 * kWireBytesPerSecond);
    EXPECT_LT(rate, 1.3 * kWireBytesPerSecond);
    // The last two frames sent may still wait for their transfer to complete.
    const std::uint64_t n = counters().sample_frames_sent - 2;
    ASSERT_GT(n, 40U);
    const std::uint64_t last = zefsim_frame_time_us(n - 1);
    const std::uint64_t first = zefsim_frame_time_us(n - 41);
    ASSERT_GT(first, 0U);
    ASSERT_GT(last, first);
    const double periodUs = static_cast<double>(last - first) / 40.0;
    EXPECT_NEAR(periodUs, 512e6 / 65104.0, 800.0);
}

TEST_F(Realtime, RegisteredEventIsSignalledWhenBytesArrive) {
    const FT_HANDLE h = openRealtime();
    platform::Event event;
    ASSERT_EQ(FT_SetEventNotification(h, 1, event.driverHandle()), 0U);
    startDevice(h);
    EXPECT_TRUE(event.wait(200));
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_GT(queued, 0U);
    EXPECT_GT(counters().events_signalled, 0U);
    ASSERT_EQ(FT_SetEventNotification(h, 1, nullptr), 0U);
}

TEST_F(Realtime, BitBangWritesArePacedAndDrain) {
    zefsim_set_timing(ZEFSIM_REALTIME);
    const FT_HANDLE h = addAndOpen();
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
    const Bytes idle(30000, 0x80); // 10 ms at 3 MBd
    const std::uint64_t start = platform::nowMicroseconds();
    ASSERT_EQ(writeAll(h, idle), 0U);
    EXPECT_GE(platform::nowMicroseconds() - start, 7000U);
    platform::sleepMs(20);
    DWORD rx = 0;
    DWORD tx = 0;
    DWORD events = 0;
    ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &events), 0U);
    EXPECT_EQ(tx, 0U) << "drained";
    const Bytes burst(3000, 0x80); // fits the transmit buffer: queued, not waited for
    ASSERT_EQ(writeAll(h, burst), 0U);
    ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &events), 0U);
    EXPECT_GT(tx, 0U);
    EXPECT_LE(tx, 3000U);
    do {
        ASSERT_EQ(FT_GetStatus(h, &rx, &tx, &events), 0U);
    } while (tx > 0 && platform::nowMicroseconds() - start < 1000000);
    EXPECT_EQ(tx, 0U);
}

} // namespace
} // namespace zef::sim::test

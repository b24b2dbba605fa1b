// The driver's transfers on their own, on a clock the test sets: when bytes
// become readable, how many transfers that takes, and that a full buffer
// stops the transfers and loses nothing, the gateware only whole frames.
#include "clocked_device.h"
#include "sim/receive_transfers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zef::sim::test {
namespace {

struct Driver {
    Device device;
    ReceiveTransfers transfers;
    ByteQueue buffer;
    std::size_t completed = 0;

    explicit Driver(std::size_t transferBytes, std::size_t capacity = kDefaultReceiveCapacity) {
        transfers.setTransferBytes(transferBytes);
        transfers.setCapacity(capacity);
        start(device);
    }
    std::size_t advance(std::uint64_t nowUs) {
        const std::size_t n =
            transfers.advance(device.bridge, device.instrument, device.env, nowUs, buffer, true);
        completed += n;
        return n;
    }
    Bytes takeAll() {
        Bytes out(buffer.size());
        buffer.take(out.data(), out.size());
        return out;
    }
};

// The ready status (188 bytes) fills three packets by 620 us; the latency
// timer sends the last two bytes in a short packet at 2620 us, which ends
// the transfer: nothing is readable before.
TEST(ReceiveTransfers, BytesBecomeReadableWhenTheTransferCompletes) {
    Driver d(kDefaultTransferBytes);
    for (std::uint64_t t = kStart; t < kStart + 2620; t += 7) {
        ASSERT_EQ(d.advance(t), 0U) << t - kStart;
        ASSERT_EQ(d.buffer.size(), 0U) << t - kStart;
    }
    EXPECT_EQ(d.device.env.counters.bytes_sent, kStatusFrameBytes);
    EXPECT_EQ(d.advance(kStart + 2620), 1U);
    EXPECT_EQ(d.buffer.size(), kStatusFrameBytes);
    EXPECT_EQ(d.device.env.counters.rx_transfers, 1U);
}

// Streaming at 3 MBd leaves no gap as long as the latency timer, so every
// transfer after the ready status is full: its packets' data bytes at once, and
// about 66 a second with 4096 bytes. Asked at every step or seldom, the
// same bytes at the same times.
TEST(ReceiveTransfers, FullTransfersOfTheirSizeWhateverThePace) {
    const struct {
        std::size_t transferBytes;
        std::size_t dataBytes;
    } cases[] = {{64, 62}, {kDefaultTransferBytes, 64 * 62}, {kMaxTransferBytes, 1024 * 62}};
    constexpr std::uint64_t kEnd = kStart + 1500000;
    constexpr std::uint64_t kFirstSampleUs = 7865;
    for (const auto& c : cases) {
        std::vector<std::vector<std::pair<std::uint64_t, std::size_t>>> steps(2);
        std::vector<Bytes> streams(2);
        for (std::size_t run = 0; run < 2; ++run) {
            Driver d(c.transferBytes);
            const std::uint64_t stride = run == 0 ? 10 : 23456;
            for (std::uint64_t t = kStart; t <= kEnd; t += stride) {
                const std::size_t before = d.buffer.size();
                d.advance(t);
                if (d.buffer.size() != before) {
                    steps[run].emplace_back(t, d.buffer.size() - before);
                }
            }
            d.advance(kEnd);
            streams[run] = d.takeAll();
            EXPECT_EQ(d.completed, d.device.env.counters.rx_transfers);
            if (run == 0) {
                for (const auto& [atUs, bytes] : steps[0]) {
                    if (atUs > kStart + kFirstSampleUs) {
                        ASSERT_EQ(bytes, c.dataBytes) << c.transferBytes << " at " << atUs;
                    }
                }
                const double perSecond = 65104.0 / 512 * static_cast<double>(kSampleFrameBytes) /
                                         static_cast<double>(c.dataBytes);
                EXPECT_NEAR(static_cast<double>(d.completed), 1.5 * perSecond,
                            0.05 * 1.5 * perSecond + 2)
                    << c.transferBytes;
            }
        }
        EXPECT_EQ(streams[0], streams[1]) << c.transferBytes;
        std::int64_t expected = 0;
        for (const Frame& f : splitFrames(streams[0])) {
            ASSERT_TRUE(f.crcGood);
            if (f.type != kStatusType) {
                ASSERT_EQ(patternFrameNumber(f.body.data()), expected++);
            }
        }
        EXPECT_GE(expected, 150);
    }
}

// A buffer nobody reads fills until it has no room for another transfer;
// what it holds is the stream from its start, whole, every byte that
// crossed the line is accounted for, and the gateware drops whole frames
// once its FIFO is full. Read, the buffer takes transfers again.
TEST(ReceiveTransfers, FullBufferStopsTheTransfersAndLosesNothing) {
    for (const std::size_t capacity : {kMinReceiveCapacity, std::size_t{100000}}) {
        Driver d(kDefaultTransferBytes, capacity);
        d.advance(kStart + 2000000);
        const zefsim_counters& c = d.device.env.counters;
        EXPECT_LE(d.buffer.size(), capacity);
        EXPECT_GT(d.buffer.size() + 64 * 62, capacity);
        EXPECT_GT(c.sample_frames_overrun, 0U);
        EXPECT_EQ(d.buffer.size() + d.transfers.pendingBytes() + d.device.bridge.buffered(),
                  c.bytes_sent);
        const Bytes held = d.takeAll();
        std::int64_t expected = 0;
        for (const Frame& f : splitFrames(held)) {
            ASSERT_TRUE(f.crcGood) << capacity;
            if (f.type != kStatusType) {
                ASSERT_EQ(patternFrameNumber(f.body.data()), expected++);
            }
        }
        d.advance(kStart + 2000000); // the room made now asks again
        d.advance(kStart + 2100000);
        EXPECT_GT(d.buffer.size(), std::min<std::size_t>(capacity - 64 * 62, 20000))
            << "taking transfers again";
    }
}

} // namespace
} // namespace zef::sim::test

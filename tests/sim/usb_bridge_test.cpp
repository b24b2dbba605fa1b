// The bridge's USB side on its own, on a clock the test sets: packet times
// and sizes, the latency timer, the line rate, and that the stream does not
// depend on how often anyone asks.
#include "clocked_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zef::sim::test {
namespace {

std::vector<InPacket> collect(Device& d, std::uint64_t untilUs) {
    std::vector<InPacket> packets;
    InPacket packet;
    while (d.bridge.next(d.instrument, d.env, untilUs, packet)) {
        packets.push_back(packet);
    }
    return packets;
}

// Bytes of every frame whose last byte has crossed the line, and of the one
// on the line now.
std::uint64_t lineBytes(Device& d) {
    const zefsim_counters& c = d.env.counters;
    const auto& output = d.instrument.output();
    return c.sample_frames_sent * kSampleFrameBytes + c.status_frames_sent * kStatusFrameBytes +
           (output.empty() ? 0 : output.front().sent);
}

Bytes dataOf(const std::vector<InPacket>& packets) {
    Bytes data;
    for (const InPacket& p : packets) {
        data.insert(data.end(), p.data(), p.data() + p.dataSize());
    }
    return data;
}

TEST(UsbBridge, IdleBridgeSendsItsStatusBytesEachLatencyPeriod) {
    for (const std::uint32_t latencyMs : {2U, kPowerOnLatencyMs}) {
        for (const bool cts : {false, true}) {
            Device d;
            d.bridge.setCts(cts);
            d.bridge.restart(kStart);
            if (latencyMs != kPowerOnLatencyMs) {
                d.bridge.setLatencyTimer(latencyMs, kStart);
            }
            const auto packets = collect(d, kStart + 50000);
            ASSERT_EQ(packets.size(), 50 / latencyMs) << latencyMs;
            for (std::size_t i = 0; i < packets.size(); ++i) {
                EXPECT_EQ(packets[i].timeUs, kStart + (i + 1) * latencyMs * 1000U);
                ASSERT_EQ(packets[i].size, 2U);
                EXPECT_EQ(packets[i].bytes[0], cts ? 0x11 : 0x01);
                EXPECT_EQ(packets[i].bytes[1], 0x60);
            }
        }
    }
}

// The ready status (188 bytes) leaves at 300 kB/s; its last bytes wait for
// the latency timer, or for the first sample frame (due 7864 us after the
// start) when the timer is longer than the gap.
TEST(UsbBridge, PacketsFollowTheLineAndTheLatencyTimer) {
    struct Expected {
        std::uint64_t atUs;
        std::size_t size;
    };
    const struct {
        std::uint32_t latencyMs;
        std::size_t packetBytes;
        std::vector<Expected> packets;
    } cases[] = {
        {2, 64, {{206, 64}, {413, 64}, {620, 64}, {2620, 4}, {4620, 2}, {6620, 2}, {8070, 64}}},
        {16, 64, {{206, 64}, {413, 64}, {620, 64}, {8064, 64}, {8270, 64}}},
        {2, 512, {{2000, 190}, {4000, 2}, {6000, 2}, {8000, 43}, {9700, 512}}},
    };
    for (const auto& c : cases) {
        Device d;
        d.bridge.setPacketSize(c.packetBytes);
        start(d, 3000000, c.latencyMs);
        const auto packets = collect(d, kStart + c.packets.back().atUs);
        ASSERT_EQ(packets.size(), c.packets.size()) << c.latencyMs << " ms, " << c.packetBytes;
        for (std::size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].timeUs - kStart, c.packets[i].atUs) << "packet " << i;
            EXPECT_EQ(packets[i].size, c.packets[i].size) << "packet " << i;
        }
        const auto frames = splitFrames(dataOf(packets));
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].type, kStatusType);
        EXPECT_EQ(frames[0].body[0], kStateReady);
        EXPECT_TRUE(frames[0].crcGood);
    }
}

// One device asked every microsecond, one at uneven moments up to 30 ms
// apart, with a settings frame written at the same instant: the same packets.
TEST(UsbBridge, SameStreamHoweverOftenAsked) {
    Bytes settings = {0x3E};
    settings.resize(65);
    crc16::seal(settings.data(), 63);
    Bytes written;
    for (std::size_t i = 0; i < kPreambleBytes; ++i) {
        written.push_back(kSyncCycle[i % 3]);
    }
    written.push_back(0x00);
    written.insert(written.end(), settings.begin(), settings.end());

    constexpr std::uint64_t kWriteAt = kStart + 53210;
    constexpr std::uint64_t kEnd = kStart + 250000;
    auto run = [&](Device& d, auto nextTime) {
        start(d);
        std::vector<InPacket> all;
        bool wrote = false;
        for (std::uint64_t t = kStart; t < kEnd; t = nextTime(t)) {
            if (!wrote && t >= kWriteAt) {
                auto before = collect(d, kWriteAt);
                all.insert(all.end(), before.begin(), before.end());
                d.instrument.uartBytes(written.data(), written.size(), d.env, kWriteAt);
                wrote = true;
            }
            auto some = collect(d, t);
            all.insert(all.end(), some.begin(), some.end());
        }
        auto rest = collect(d, kEnd);
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    Device often;
    Device seldom;
    std::uint64_t seed = 12345;
    const auto a = run(often, [](std::uint64_t t) { return t + 1; });
    const auto b = run(seldom, [&seed](std::uint64_t t) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return t + (seed >> 33U) % 30000U;
    });
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].timeUs, b[i].timeUs) << i;
        ASSERT_EQ(a[i].size, b[i].size) << i;
        ASSERT_TRUE(
            std::equal(a[i].bytes.begin(), a[i].bytes.begin() + a[i].size, b[i].bytes.begin()))
            << i;
    }
    EXPECT_EQ(often.env.counters.settings_received, 1U);

    // Every byte the gateware sent, once, in order; the frame that ended
    // last may still wait in the buffer.
    const Bytes data = dataOf(a);
    EXPECT_EQ(data.size() + often.bridge.buffered(), often.env.counters.bytes_sent);
    EXPECT_EQ(often.env.counters.bytes_sent, lineBytes(often));
    std::size_t acks = 0;
    std::uint64_t samples = 0;
    for (const Frame& f : splitFrames(data)) {
        ASSERT_TRUE(f.crcGood);
        if (f.type == kStatusType) {
            acks += f.body[0] == kStateAcknowledged ? 1U : 0U;
        } else {
            EXPECT_EQ(patternFrameNumber(f.body.data()), static_cast<std::int64_t>(samples++));
        }
    }
    EXPECT_EQ(acks, 1U);
    // Frame k is due k * 7864.3 us after the start and takes 6920 us on the
    // line: 30 have crossed by 250 ms.
    EXPECT_EQ(often.env.counters.sample_frames_sent, 30U);
    EXPECT_GE(samples, 29U);
    std::uint64_t ended = 0;
    for (const InPacket& p : a) {
        for (std::size_t k = 0; k < p.samplesEnded; ++k) {
            EXPECT_EQ(p.endedSamples[k], ended++);
        }
    }
    EXPECT_EQ(ended, samples) << "each sample frame ends in the packet that carries its last byte";
}

TEST(UsbBridge, SlowLineCarriesItsBaudRateAndOverrunsTheGateware) {
    for (const std::uint32_t baud : {3000000U, 1000000U}) {
        Device d;
        start(d, baud);
        collect(d, kStart + 500000);
        const std::uint64_t before = d.env.counters.bytes_sent;
        collect(d, kStart + 1500000);
        const double rate = static_cast<double>(d.env.counters.bytes_sent - before);
        if (baud == 3000000) {
            EXPECT_NEAR(rate, 65104.0 / 512 * kSampleFrameBytes, 2.0 * kSampleFrameBytes);
            EXPECT_EQ(d.env.counters.sample_frames_overrun, 0U);
        } else {
            EXPECT_NEAR(rate, baud / 10.0, 62.0) << "a busy line moves a byte every 10 bits";
            EXPECT_GT(d.env.counters.sample_frames_overrun, 0U);
        }
    }
}

// Held, nothing crosses; afterwards the waiting frames follow back to back,
// intact.
TEST(UsbBridge, HeldBridgeSendsNothingAndLosesNothing) {
    Device d;
    start(d);
    auto packets = collect(d, kStart + 20000);
    d.bridge.hold(true, kStart + 20000);
    EXPECT_TRUE(collect(d, kStart + 70000).empty());
    const std::uint64_t heldBytes = d.env.counters.bytes_sent;
    d.bridge.hold(false, kStart + 70000);
    const auto after = collect(d, kStart + 120000);
    ASSERT_FALSE(after.empty());
    EXPECT_GT(after.front().timeUs, kStart + 70000);
    EXPECT_NEAR(static_cast<double>(d.env.counters.bytes_sent - heldBytes), 0.050 * 300000, 2.0);
    packets.insert(packets.end(), after.begin(), after.end());
    std::int64_t expected = 0;
    for (const Frame& f : splitFrames(dataOf(packets))) {
        ASSERT_TRUE(f.crcGood);
        if (f.type != kStatusType) {
            EXPECT_EQ(patternFrameNumber(f.body.data()), expected++);
        }
    }
    EXPECT_GE(expected, 8);
}

// Not asked for packets, the bridge holds the line: the gateware's FIFO
// keeps 64 frames and drops whole frames after them, counted; asked again,
// the bridge sends what follows (the FIFO drains in about 4 s), every frame
// intact and the dropped ones missing, exactly.
TEST(UsbBridge, BridgeNotAskedHoldsTheLineAndTheGatewareDropsWholeFrames) {
    Device d;
    start(d);
    auto packets = collect(d, kStart + 20000);
    d.bridge.setAsking(false, kStart + 20000);
    EXPECT_TRUE(collect(d, kStart + 800000).empty());
    const zefsim_counters& c = d.env.counters;
    EXPECT_GT(c.sample_frames_overrun, 0U);
    d.bridge.setAsking(true, kStart + 800000);
    const auto after = collect(d, kStart + 5500000);
    packets.insert(packets.end(), after.begin(), after.end());
    const Bytes data = dataOf(packets);
    EXPECT_EQ(data.size() + d.bridge.buffered(), c.bytes_sent);
    std::int64_t last = -1;
    std::uint64_t skipped = 0;
    for (const Frame& f : splitFrames(data)) {
        ASSERT_TRUE(f.crcGood);
        if (f.type != kStatusType) {
            const std::int64_t n = patternFrameNumber(f.body.data());
            skipped += static_cast<std::uint64_t>(n - last - 1);
            last = n;
        }
    }
    EXPECT_EQ(skipped, c.sample_frames_overrun);
    EXPECT_GE(last, 120);
}

// However fast the line, no more packets go than the bus carries: 19 of 64
// bytes per 1 ms frame at full speed, 13 of 512 per 125 us at high speed.
TEST(UsbBridge, PacketsGoNoFasterThanTheBusCarries) {
    for (const std::size_t packetBytes : {kFullSpeedPacketBytes, kHighSpeedPacketBytes}) {
        Device d;
        d.bridge.setPacketSize(packetBytes);
        start(d, 100000000); // a line far faster than any bus
        std::vector<InPacket> packets;
        for (int i = 0; i < 10; ++i) { // a stream of frames waiting at once
            d.instrument.produceNext(d.env, kStart);
        }
        packets = collect(d, kStart + 20000);
        const UsbBus& bus = packetBytes == kFullSpeedPacketBytes ? kFullSpeedBus : kHighSpeedBus;
        const auto perFrame = static_cast<std::size_t>(bus.packetsPerFrame);
        ASSERT_GT(packets.size(), perFrame * 2);
        for (std::size_t i = perFrame; i < packets.size(); ++i) {
            EXPECT_GE(packets[i].timeUs - packets[i - perFrame].timeUs, bus.frameUs - 1)
                << packetBytes << ", packet " << i;
        }
    }
}

TEST(UsbBridge, LineFaultsAreCountedPerByte) {
    Device d;
    d.env.faults.dropRate = 0.01;
    d.env.faults.corruptRate = 0.01;
    start(d);
    const Bytes data = dataOf(collect(d, kStart + 200000));
    const zefsim_counters& c = d.env.counters;
    EXPECT_GT(c.bytes_dropped, 0U);
    EXPECT_GT(c.bytes_corrupted, 0U);
    EXPECT_EQ(data.size() + d.bridge.buffered(), c.bytes_sent);
    EXPECT_EQ(c.bytes_sent + c.bytes_dropped, lineBytes(d));
}

} // namespace
} // namespace zef::sim::test

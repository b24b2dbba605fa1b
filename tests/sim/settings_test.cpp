// The settings frame as the gateware reads it, and its acknowledgement.
#include "sim/settings_decoder.h"
#include "sim_fixture.h"

#include "platform/platform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zef::sim::test {
namespace {

// 7050000 Hz, mode "U", zero calibration, plain driver library.
const Bytes kKnownFrame = {0x3E, 0x03, 0x10, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0xDD, 0x24, 0x06, 0x09, 0x10, 0x93, 0x6B, 0x00, 0x1F,
                           0x40, 0xFF, 0x80, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
                           0x20, 0x00, 0x20, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0x80,
                           0x05, 0x70, 0xFF, 0x02, 0xE5, 0xB4, 0x06, 0x09, 0x97, 0x7D};

Bytes preamble() {
    Bytes p;
    for (std::size_t i = 0; i < 24; ++i) {
        p.push_back(kSyncCycle[i % 3]);
    }
    p.push_back(0x00);
    return p;
}

TEST(SettingsDecoder, KnownFrameFields) {
    const auto s = decodeSettings(kKnownFrame);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->loWord, 0x090624DDU);
    EXPECT_EQ(s->tuneFrequency, 7050000);
    EXPECT_EQ(s->flags, 0x80);
    EXPECT_EQ(s->twoPointCode, 0x8000);
    EXPECT_EQ(s->threePointCode, 0x8000);
    EXPECT_EQ(s->fivePointCode, 0x8000);
    EXPECT_EQ(s->mode, 2);
    EXPECT_EQ(s->tuneWord, 0x0906B4E5U);
    EXPECT_TRUE(s->fixedBytesMatch);
}

TEST(SettingsDecoder, RejectsDamage) {
    Bytes badLength = kKnownFrame;
    badLength[0] = 0x3F;
    crc16::seal(badLength.data(), 63);
    Bytes badCrc = kKnownFrame;
    badCrc[64] ^= 1;
    Bytes badField = kKnownFrame;
    badField[30] = 0x01;
    const Bytes shortFrame(kKnownFrame.begin(), kKnownFrame.end() - 1);
    EXPECT_FALSE(decodeSettings(badLength));
    EXPECT_FALSE(decodeSettings(badCrc));
    EXPECT_FALSE(decodeSettings(badField));
    EXPECT_FALSE(decodeSettings(shortFrame));
    crc16::seal(badField.data(), 63);
    ASSERT_TRUE(decodeSettings(badField));
    EXPECT_FALSE(decodeSettings(badField)->fixedBytesMatch);
}

using Settings = SimTest;

std::size_t countStatus(const std::vector<Frame>& frames, std::uint8_t state) {
    return static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [&](const Frame& f) {
            return f.crcGood && f.type == kStatusType && f.body[0] == state;
        }));
}

TEST_F(Settings, GoodFrameIsKeptAndAcknowledged) {
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    readQueued(h);
    const std::uint64_t before = platform::nowMicroseconds();
    zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 7); // split writes reach the gateware whole
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U);
    Bytes last(65);
    EXPECT_EQ(zefsim_last_settings(last.data()), 1U);
    EXPECT_EQ(last, kKnownFrame);
    EXPECT_GE(zefsim_last_settings_time_us(), before);
    const auto frames = splitFrames(readQueued(h));
    EXPECT_EQ(countStatus(frames, kStateAcknowledged), 1U);
    for (const Frame& f : frames) {
        EXPECT_TRUE(f.crcGood) << "the acknowledgement must not cut into a sample frame";
    }
}

TEST_F(Settings, BadOrUnheardFramesGetNoAcknowledgement) {
    const FT_HANDLE h = addAndOpen();
    Bytes bad = kKnownFrame;
    bad[20] ^= 0x40;
    ASSERT_EQ(writeAll(h, preamble()), 0U); // FPGA not yet configured: nobody listens
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U);
    EXPECT_EQ(zefsim_last_settings(nullptr), 0U);
    startDevice(h);
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, bad), 0U);
    EXPECT_EQ(counters().settings_rejected, 1U);
    zefsim_set_fault(ZEFSIM_NEVER_ACK, 1);
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U);
    EXPECT_EQ(counters().settings_received, 1U);
    EXPECT_EQ(countStatus(splitFrames(readQueued(h)), kStateAcknowledged), 0U);
}

// A gateware that is still starting hears nothing and says nothing.
TEST_F(Settings, FramesBeforeTheGatewareIsUpAreLost) {
    zefsim_set_gateware_startup_ms(60);
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U);
    const auto early = splitFrames(readQueued(h));
    EXPECT_EQ(countStatus(early, kStateReady), 0U);
    EXPECT_EQ(countStatus(early, kStateAcknowledged), 0U);
    EXPECT_EQ(zefsim_last_settings(nullptr), 0U);
    EXPECT_EQ(counters().settings_unheard, 1U);

    platform::sleepMs(80);
    EXPECT_EQ(countStatus(splitFrames(readQueued(h)), kStateReady), 1U);
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U);
    EXPECT_EQ(zefsim_last_settings(nullptr), 1U);
    EXPECT_EQ(countStatus(splitFrames(readQueued(h)), kStateAcknowledged), 1U);
}

// The tone's phase step per sample, from one frame's pairs.
double measuredHz(const Bytes& body) {
    double sum = 0;
    for (std::size_t i = 0; i + 1 < 512; ++i) {
        auto at = [&](std::size_t k, std::size_t half) {
            return static_cast<double>(static_cast<std::int16_t>(body[4 * k + 2 * half] |
                                                                 body[4 * k + 2 * half + 1] << 8U));
        };
        const double re = at(i + 1, 0) * at(i, 0) + at(i + 1, 1) * at(i, 1);
        const double im = at(i + 1, 1) * at(i, 0) - at(i + 1, 0) * at(i, 1);
        sum += std::atan2(im, re);
    }
    return sum / 511.0 * 65104.0 / (2.0 * std::numbers::pi);
}

TEST_F(Settings, SignalIsMixedDownWithTheLastLoWord) {
    zefsim_set_signal(ZEFSIM_SIGNAL, 7051000.0, 8000.0);
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    ASSERT_EQ(writeAll(h, preamble()), 0U);
    ASSERT_EQ(writeAll(h, kKnownFrame), 0U); // LO 7050000 Hz
    readQueued(h);                           // frames made before the frame
    const auto frames = splitFrames(readQueued(h));
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(measuredHz(frames.back().body), 1000.0, 5.0);
}

} // namespace
} // namespace zef::sim::test

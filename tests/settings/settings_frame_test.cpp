#include "calibration_points.h"
#include "main_thread/crc16.h"
#include "main_thread/settings_frame.h"
#include "plugin/tuning.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace {

using zef::SettingsFrame;
using zef::SettingsInputs;

// Zero record, model 0, plain driver, LO 7050000 Hz, tuned 7050000 Hz in "U".
constexpr SettingsFrame kPlainFrame = {
    0x3E, 0x03, 0x10, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xDD, 0x24, 0x06, 0x09, 0x10, 0x93, 0x6B, 0x00, 0x1F, 0x40, 0xFF, 0x80, 0x00,
    0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x80, 0x00,
    0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xC3, 0x80, 0x05, 0x70, 0xFF, 0x02, 0xE5, 0xB4, 0x06, 0x09, 0x97, 0x7D};

SettingsInputs plainInputs() {
    SettingsInputs inputs;
    inputs.loWord = zef::TuningWord(7050000);
    inputs.tuneFrequency = 7050000;
    inputs.modeCode = zef::ModeCode('U');
    inputs.tuneWord = zef::TuningWord(7050000, zef::modeOffsetHz(inputs.modeCode));
    return inputs;
}

using Bytes = std::vector<std::pair<std::size_t, std::uint8_t>>;

struct FrameCase {
    const char* name;
    std::function<void(SettingsInputs&)> change;
    Bytes differs;          // bytes 0-62 that differ from the plain frame
    std::array<int, 2> crc; // bytes 63-64, or -1 where the vectors give none
};

const FrameCase kFrameCases[] = {
    {"plain driver", [](SettingsInputs&) {}, {}, {0x97, 0x7D}},
    {"bridge driver",
     [](SettingsInputs& in) { in.bridgeLibrary = true; },
     {{24, 0x00}},
     {0x5E, 0xB9}},
    {"model 53",
     [](SettingsInputs& in) { in.deviceModel = 53; },
     {{24, 0x88}, {28, 0x00}, {29, 0x00}},
     {0xEC, 0xDD}},
    {"model 53 ignores block A's points",
     [](SettingsInputs& in) {
         in.deviceModel = 53;
         zef::test::setTwoPoints(in.calibration, 30000, 36000);
     },
     {{24, 0x88}, {28, 0x00}, {29, 0x00}},
     {0xEC, 0xDD}},
    {"model 53 with the bridge driver",
     [](SettingsInputs& in) {
         in.deviceModel = 53;
         in.bridgeLibrary = true;
     },
     {{24, 0x08}, {28, 0x00}, {29, 0x00}},
     {-1, -1}},
    {"two-point calibration",
     [](SettingsInputs& in) { zef::test::setTwoPoints(in.calibration, 30000, 36000); },
     {{28, 0x60}, {29, 0x33}},
     {0x4A, 0x34}},
    {"two-point code past 16 bits keeps its low bits",
     [](SettingsInputs& in) { zef::test::setTwoPoints(in.calibration, 100, 200); },
     {{28, 0x00}, {29, 0x00}},
     {-1, -1}},
    {"tuned 0 Hz in mode L",
     [](SettingsInputs& in) {
         in.tuneFrequency = 0;
         in.modeCode = zef::ModeCode('L');
         in.tuneWord = zef::TuningWord(0, zef::modeOffsetHz(in.modeCode));
     },
     {{17, 0x00},
      {18, 0x00},
      {19, 0x00},
      {20, 0x00},
      {58, 0x03},
      {59, 0xF9},
      {60, 0x6F},
      {61, 0xFF},
      {62, 0xFF}},
     {-1, -1}},
    {"adjusted pass-through bytes",
     [](SettingsInputs& in) {
         in.calibration.calibrationB[10] = 0xF0;
         in.calibration.calibrationA[zef::kPairAdjust1Offset] = 0x20;
     },
     {{42, 0x10}, {43, 0x20}},
     {-1, -1}},
    {"three- and five-point codes",
     [](SettingsInputs& in) {
         zef::test::setThreePoints(in.calibration, 5, -95, 105);
         zef::test::setFivePoints(in.calibration, {10, 20, 30, 40, 50});
     },
     {{36, 0x33}, {37, 0x7B}, {38, 0x00}, {39, 0x20}},
     {-1, -1}}, // 31539, 8192
    {"tuned frequency is sent as given, not as a word",
     [](SettingsInputs& in) { in.tuneFrequency = -2; },
     {{17, 0xFE}, {18, 0xFF}, {19, 0xFF}, {20, 0xFF}},
     {-1, -1}},
};

TEST(SettingsFrame, MatchesTheFrameVectors) {
    for (const FrameCase& c : kFrameCases) {
        SettingsInputs inputs = plainInputs();
        c.change(inputs);
        const SettingsFrame frame = zef::buildSettingsFrame(inputs);

        SettingsFrame expected = kPlainFrame;
        for (const auto& [offset, value] : c.differs) {
            expected[offset] = value;
        }
        for (std::size_t i = 0; i + 2 < frame.size(); ++i) {
            EXPECT_EQ(frame[i], expected[i]) << c.name << ", byte " << i;
        }
        for (std::size_t i = 0; i < 2; ++i) {
            if (c.crc[i] >= 0) {
                EXPECT_EQ(frame[63 + i], c.crc[i]) << c.name << ", byte " << 63 + i;
            }
        }
        EXPECT_EQ(zef::crc16::compute(frame), 0) << c.name << ": CRC does not close the frame";
    }
}

TEST(SettingsFrame, WordsAreSentAsTheirLowThirtyTwoBits) {
    SettingsInputs inputs = plainInputs();
    inputs.loWord = 0x123456789ALL;
    inputs.tuneWord = -1;
    const SettingsFrame frame = zef::buildSettingsFrame(inputs);
    const std::array<std::uint8_t, 4> lo = {frame[13], frame[14], frame[15], frame[16]};
    const std::array<std::uint8_t, 4> tune = {frame[59], frame[60], frame[61], frame[62]};
    EXPECT_EQ(lo, (std::array<std::uint8_t, 4>{0x9A, 0x78, 0x56, 0x34}));
    EXPECT_EQ(tune, (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SettingsPreamble, IsEightSyncCyclesAndAZero) {
    constexpr std::array<std::uint8_t, 25> expected = {
        0xAA, 0x0F, 0x55, 0xAA, 0x0F, 0x55, 0xAA, 0x0F, 0x55, 0xAA, 0x0F, 0x55, 0xAA,
        0x0F, 0x55, 0xAA, 0x0F, 0x55, 0xAA, 0x0F, 0x55, 0xAA, 0x0F, 0x55, 0x00};
    EXPECT_EQ(zef::kSettingsPreamble, expected);
}

// The wait counted without a device: which pass acknowledges (0: none), and
// how many passes and sleeps that takes.
TEST(AcknowledgementWait, StopsAtTheFirstAcknowledgingPass) {
    struct {
        int ackOnPass;
        int passes;
        int sleeps;
        bool acknowledged;
    } const cases[] = {
        {1, 1, 0, true},      {3, 3, 2, true},        {100, 100, 99, true},
        {0, 100, 100, false}, {101, 100, 100, false},
    };
    for (const auto& c : cases) {
        int passes = 0;
        int sleeps = 0;
        std::uint32_t sleptMs = 0;
        const bool acknowledged = zef::awaitAcknowledgement(
            [&] { ++passes; }, [&] { return c.ackOnPass != 0 && passes >= c.ackOnPass; },
            [&](std::uint32_t ms) {
                ++sleeps;
                sleptMs += ms;
            });
        EXPECT_EQ(acknowledged, c.acknowledged) << "ack on pass " << c.ackOnPass;
        EXPECT_EQ(passes, c.passes) << "ack on pass " << c.ackOnPass;
        EXPECT_EQ(sleeps, c.sleeps) << "ack on pass " << c.ackOnPass;
        EXPECT_EQ(sleptMs, 5U * static_cast<std::uint32_t>(c.sleeps));
    }
}

} // namespace

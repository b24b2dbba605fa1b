#include "main_thread/crc16.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

TEST(Crc16, CheckValueOfTheModbusVariant) {
    const auto text = bytes({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    EXPECT_EQ(zef::crc16::compute(text), 0x4B37);
    EXPECT_EQ(zef::crc16::compute({}), 0xFFFF);
}

// Settings frames the instrument accepts: with their CRC appended low byte
// first, the CRC over the whole frame is 0.
TEST(Crc16, KnownSettingsFramesCheckToZero) {
    auto plain =
        bytes({0x3E, 0x03, 0x10, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0xDD, 0x24, 0x06, 0x09, 0x10, 0x93, 0x6B, 0x00, 0x1F, 0x40, 0xFF, 0x80, 0x00,
               0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x80, 0x00,
               0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0x00, 0xC3, 0x80, 0x05, 0x70, 0xFF, 0x02, 0xE5, 0xB4, 0x06, 0x09, 0x97, 0x7D});
    ASSERT_EQ(plain.size(), 65U);
    EXPECT_EQ(zef::crc16::compute(plain), 0);

    struct Patch {
        std::size_t offset;
        std::uint8_t value;
    };
    struct Variant {
        const char* name;
        std::vector<Patch> patches; // CRC bytes 63 and 64 included
    };
    const Variant variants[] = {
        {"bridge library", {{24, 0x00}, {63, 0x5E}, {64, 0xB9}}},
        {"model 53", {{24, 0x88}, {28, 0x00}, {29, 0x00}, {63, 0xEC}, {64, 0xDD}}},
        {"two-point calibration", {{28, 0x60}, {29, 0x33}, {63, 0x4A}, {64, 0x34}}},
    };
    for (const Variant& v : variants) {
        auto frame = plain;
        for (const Patch& p : v.patches) {
            frame[p.offset] = p.value;
        }
        EXPECT_EQ(zef::crc16::compute(frame), 0) << v.name;
    }
}

TEST(Crc16, SealAppendsLowByteFirst) {
    std::array<std::uint8_t, 5> block{0x01, 0x02, 0x03};
    zef::crc16::seal(block.data(), 3);
    const std::uint16_t crc = zef::crc16::compute(std::span(block).first(3));
    EXPECT_EQ(block[3], crc & 0xFF);
    EXPECT_EQ(block[4], crc >> 8);
    EXPECT_EQ(zef::crc16::compute(block), 0);
}

TEST(Crc16, DetectsEverySingleBitError) {
    std::array<std::uint8_t, 66> frame{};
    for (std::size_t i = 0; i < 64; ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    zef::crc16::seal(frame.data(), 64);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            auto damaged = frame;
            damaged[i] = static_cast<std::uint8_t>(damaged[i] ^ (1U << bit));
            ASSERT_NE(zef::crc16::compute(damaged), 0) << i << ":" << bit;
        }
    }
}

} // namespace

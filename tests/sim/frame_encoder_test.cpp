// The device-side frame encoder against the wire rules the host checks.
#include "sim_fixture.h"

#include <array>

namespace zef::sim::test {
namespace {

TEST(FrameEncoder, StatusFrameLayoutAndCrc) {
    std::array<std::uint8_t, 64> a{};
    std::array<std::uint8_t, 64> b{};
    for (std::size_t i = 0; i < 64; ++i) {
        a[i] = static_cast<std::uint8_t>(i);
        b[i] = static_cast<std::uint8_t>(0xF0 - i);
    }
    const auto body = statusBody(kStateReady, 0x1235, a, b);
    Bytes wire;
    appendFrame(wire, kStatusType, body);

    ASSERT_EQ(wire.size(), kStatusFrameBytes);
    ASSERT_EQ(wire.size(), 188U);
    for (std::size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(wire[i], kSyncCycle[i % 3]) << i;
    }
    EXPECT_EQ(wire[24], 0x00);
    EXPECT_EQ(wire[25], 0x5A);
    EXPECT_EQ(wire[26], kStateReady);
    EXPECT_EQ(wire[26 + 4], 0x35); // model, little-endian
    EXPECT_EQ(wire[26 + 5], 0x12);
    EXPECT_EQ(wire[26 + 26], a[0]);
    EXPECT_EQ(wire[26 + 90 + 63], b[63]);
    // CRC over type, body and CRC is 0; the terminator is outside it.
    EXPECT_EQ(crc16::compute(std::span(wire).subspan(25)), 0);
    EXPECT_NE(crc16::compute(std::span(wire).subspan(24)), 0);
}

TEST(FrameEncoder, SampleFrameCrcCatchesAnyFlippedBit) {
    std::array<std::uint8_t, kSampleBodySize> body{};
    writePatternBody(body.data(), 7);
    Bytes wire;
    appendFrame(wire, kSampleType, body);
    ASSERT_EQ(wire.size(), 2076U);
    EXPECT_EQ(crc16::compute(std::span(wire).subspan(25)), 0);
    for (const std::size_t at : {25U, 26U, 1000U, 2073U, 2074U, 2075U}) {
        Bytes damaged = wire;
        damaged[at] ^= 0x10;
        EXPECT_NE(crc16::compute(std::span(damaged).subspan(25)), 0) << at;
    }
}

TEST(FrameEncoder, LongerPreambleKeepsTheCycle) {
    Bytes wire;
    appendFrame(wire, kSampleType, std::array<std::uint8_t, 4>{1, 2, 3, 4}, 30);
    ASSERT_EQ(wire.size(), frameSize(4, 30));
    EXPECT_EQ(wire[27], 0xAA);
    EXPECT_EQ(wire[29], 0x55);
    EXPECT_EQ(wire[30], 0x00);
}

TEST(FrameEncoder, SealedBlockChecksAndExportMatches) {
    std::array<std::uint8_t, 64> block{};
    block[0] = 0x30;
    block[1] = 0x75;
    std::array<std::uint8_t, 64> exported = block;
    sealBlock(block);
    zefsim_seal_block(exported.data());
    EXPECT_EQ(crc16::compute(block), 0);
    EXPECT_EQ(block, exported);
}

TEST(FrameEncoder, PatternBodyCarriesItsFrameNumber) {
    std::array<std::uint8_t, kSampleBodySize> body{};
    for (const std::uint32_t n : {0U, 1U, 127U, 65535U, 8388607U}) {
        writePatternBody(body.data(), n);
        EXPECT_EQ(patternFrameNumber(body.data()), n);
    }
    writePatternBody(body.data(), 5);
    body[1001] ^= 1;
    EXPECT_EQ(patternFrameNumber(body.data()), -1);
}

} // namespace
} // namespace zef::sim::test

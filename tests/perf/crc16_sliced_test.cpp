// The slicing-by-8 CRC against the byte-wise one it must always equal.
#include "main_thread/crc16.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string_view>

namespace {

namespace crc16 = zef::crc16;

TEST(Crc16Sliced, MatchesByteWiseForEveryLengthOffsetAndStart) {
    std::array<std::uint8_t, 96> data{};
    std::uint32_t seed = 12345;
    for (std::uint8_t& byte : data) {
        seed = seed * 1103515245U + 12345U;
        byte = static_cast<std::uint8_t>(seed >> 16U);
    }
    for (const std::uint16_t start :
         {std::uint16_t{0xFFFF}, std::uint16_t{0}, std::uint16_t{0x1234}}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            for (std::size_t length = 0; offset + length <= data.size(); ++length) {
                const std::span<const std::uint8_t> bytes(data.data() + offset, length);
                ASSERT_EQ(crc16::computeSliced(bytes, start), crc16::compute(bytes, start))
                    << "start " << start << " offset " << offset << " length " << length;
            }
        }
    }
}

TEST(Crc16Sliced, KnownCheckValueAndSealedFrame) {
    constexpr std::string_view check = "123456789";
    std::array<std::uint8_t, 11> bytes{};
    for (std::size_t i = 0; i < check.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(check[i]);
    }
    // The catalogue's check value of CRC-16/MODBUS.
    EXPECT_EQ(crc16::computeSliced(std::span(bytes).first(check.size())), 0x4B37);
    crc16::seal(bytes.data(), check.size());
    EXPECT_EQ(crc16::computeSliced(bytes), 0);
    static_assert(crc16::kSlicedTables[0] == crc16::kTable);
}

} // namespace

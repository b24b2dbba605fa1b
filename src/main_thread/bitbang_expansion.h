// The FPGA's serial configuration port as the bridge's bit-bang lines drive
// it: each image bit becomes two bit-bang bytes, clock low then clock high,
// with the data bit held across the rising edge, most significant bit first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zef {

// Bit-bang lines.
inline constexpr std::uint8_t kConfigData = 0x01;
inline constexpr std::uint8_t kConfigClock = 0x04;
inline constexpr std::uint8_t kProgramLine = 0x80; // low clears the FPGA
inline constexpr std::uint8_t kBitBangOutputs = kConfigData | kConfigClock | kProgramLine;

inline constexpr std::size_t kBitBangBytesPerImageByte = 16;
inline constexpr std::size_t kImageChunkBytes = 256;
inline constexpr std::size_t kBitBangChunkBytes = kImageChunkBytes * kBitBangBytesPerImageByte;

using BitBangExpansion = std::array<std::uint8_t, kBitBangBytesPerImageByte>;

constexpr BitBangExpansion expandImageByte(std::uint8_t value) {
    BitBangExpansion out{};
    std::size_t at = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const auto data = static_cast<std::uint8_t>((value >> bit) & kConfigData);
        out[at++] = static_cast<std::uint8_t>(kProgramLine | data);
        out[at++] = static_cast<std::uint8_t>(kProgramLine | kConfigClock | data);
    }
    return out;
}

// Precomputed so that expanding the 5 MB stream is a copy per image byte.
inline constexpr std::array<BitBangExpansion, 256> kBitBangTable = [] {
    std::array<BitBangExpansion, 256> table{};
    for (std::size_t value = 0; value < table.size(); ++value) {
        table[value] = expandImageByte(static_cast<std::uint8_t>(value));
    }
    return table;
}();

// Writes the expansion of `image` to `out`, which must hold
// kBitBangBytesPerImageByte bytes per image byte.
inline void expandImageBytes(std::span<const std::uint8_t> image, std::uint8_t* out) {
    for (const std::uint8_t value : image) {
        std::memcpy(out, kBitBangTable[value].data(), kBitBangBytesPerImageByte);
        out += kBitBangBytesPerImageByte;
    }
}

} // namespace zef

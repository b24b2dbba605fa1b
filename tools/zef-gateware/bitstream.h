// Gateware images as users have them: a raw Spartan-6 configuration stream,
// or a Xilinx .bit file, which is a header followed by that stream.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zef::gateware {

inline constexpr std::uint32_t kZef418Idcode = 0x04001093; // XC6SLX9

struct BitFileHeader {
    std::string design;
    std::string part;
    std::string date;
    std::string time;
};

// The stream inside a .bit file, or an error ("truncated .bit header ...").
struct BitFileContent {
    std::span<const std::uint8_t> stream;
    BitFileHeader header;
    std::string error;
};

bool isBitFile(std::span<const std::uint8_t> bytes);
BitFileContent readBitFile(std::span<const std::uint8_t> bytes);

// The value of the first IDCODE write after the sync word, if any.
std::optional<std::uint32_t> findIdcode(std::span<const std::uint8_t> stream);

// Empty when the stream is one the instrument takes: leading 0xFF padding,
// the sync word AA 99 55 66 and an IDCODE write of the XC6SLX9; otherwise
// what is wrong with it.
std::string checkStream(std::span<const std::uint8_t> stream);

// "XC6SLX9" for a Spartan-6 IDCODE we know (revision bits ignored), else "".
std::string spartan6Part(std::uint32_t idcode);

} // namespace zef::gateware

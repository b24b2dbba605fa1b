// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final
// XOR. Sent low byte first, so the CRC over data followed by its CRC is 0.
// The one implementation shared by the plug-in, the simulator and the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zef::crc16 {

inline constexpr std::uint16_t kInitial = 0xFFFF;

inline constexpr std::array<std::uint16_t, 256> kTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned crc = n;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1U) ^ 0xA001U : crc >> 1U;
        }
        table[n] = static_cast<std::uint16_t>(crc);
    }
    return table;
}();

constexpr std::uint16_t step(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>((crc >> 8U) ^ kTable[(crc ^ byte) & 0xFFU]);
}

constexpr std::uint16_t compute(std::span<const std::uint8_t> bytes, std::uint16_t crc = kInitial) {
    for (const std::uint8_t byte : bytes) {
        crc = step(crc, byte);
    }
    return crc;
}

// Slicing-by-8: table k holds the CRC effect of a byte followed by k zero
// bytes, so eight bytes fold into the CRC with eight independent look-ups.
inline constexpr std::array<std::array<std::uint16_t, 256>, 8> kSlicedTables = [] {
    std::array<std::array<std::uint16_t, 256>, 8> tables{};
    tables[0] = kTable;
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t n = 0; n < 256; ++n) {
            const std::uint16_t previous = tables[k - 1][n];
            tables[k][n] = static_cast<std::uint16_t>((previous >> 8U) ^ kTable[previous & 0xFFU]);
        }
    }
    return tables;
}();

// Same result as compute, eight bytes per step; for long runs of bytes.
constexpr std::uint16_t computeSliced(std::span<const std::uint8_t> bytes,
                                      std::uint16_t crc = kInitial) {
    const auto& t = kSlicedTables;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; left -= 8, p += 8) {
        crc = static_cast<std::uint16_t>(
            t[7][(crc ^ p[0]) & 0xFFU] ^ t[6][((crc >> 8U) ^ p[1]) & 0xFFU] ^ t[5][p[2]] ^
            t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
    }
    return compute({p, left}, crc);
}

// Appends the CRC of bytes [0, n) at n and n + 1, low byte first.
constexpr void seal(std::uint8_t* bytes, std::size_t n) {
    const std::uint16_t crc = compute({bytes, n});
    bytes[n] = static_cast<std::uint8_t>(crc & 0xFFU);
    bytes[n + 1] = static_cast<std::uint8_t>(crc >> 8U);
}

} // namespace zef::crc16

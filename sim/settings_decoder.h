// Reads a settings frame the way the instrument's gateware does: length byte,
// CRC-16/MODBUS over all 65 bytes, then the fields. Written apart from the
// plug-in's frame builder so that tests can check one against the other.
#pragma once

#include "main_thread/crc16.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zef::sim {

inline constexpr std::size_t kSettingsFrameSize = 65;
inline constexpr std::uint8_t kSettingsLengthByte = 0x3E;

struct DecodedSettings {
    std::uint32_t loWord = 0;
    std::int32_t tuneFrequency = 0;
    std::uint8_t flags = 0;
    std::uint16_t twoPointCode = 0;
    std::uint16_t threePointCode = 0;
    std::uint16_t fivePointCode = 0;
    std::array<std::uint8_t, 13> calibration{}; // frame bytes 40-52
    std::uint8_t mode = 0;
    std::uint32_t tuneWord = 0;
    bool fixedBytesMatch = false; // every constant byte holds its value
};

namespace detail {

inline std::uint32_t le32(std::span<const std::uint8_t> f, std::size_t at) {
    return static_cast<std::uint32_t>(f[at]) | static_cast<std::uint32_t>(f[at + 1]) << 8U |
           static_cast<std::uint32_t>(f[at + 2]) << 16U |
           static_cast<std::uint32_t>(f[at + 3]) << 24U;
}

inline std::uint16_t le16(std::span<const std::uint8_t> f, std::size_t at) {
    return static_cast<std::uint16_t>(f[at] | f[at + 1] << 8U);
}

struct FixedByte {
    std::uint8_t offset;
    std::uint8_t value;
};

// Offsets 5-12, 30-32 hold zeros; the rest are the listed constants.
inline constexpr std::array<FixedByte, 29> kFixedBytes = {{
    {1, 0x03},  {2, 0x10},  {3, 0x00},  {4, 0xFF},  {5, 0},     {6, 0},     {7, 0},     {8, 0},
    {9, 0},     {10, 0},    {11, 0},    {12, 0},    {21, 0x1F}, {22, 0x40}, {23, 0xFF}, {25, 0x00},
    {26, 0x01}, {27, 0x00}, {30, 0},    {31, 0},    {32, 0},    {33, 0x20}, {34, 0x00}, {35, 0x20},
    {53, 0xC3}, {54, 0x80}, {55, 0x05}, {56, 0x70}, {57, 0xFF},
}};

} // namespace detail

// Nothing when the size, the length byte or the CRC is wrong.
inline std::optional<DecodedSettings> decodeSettings(std::span<const std::uint8_t> frame) {
    if (frame.size() != kSettingsFrameSize || frame[0] != kSettingsLengthByte ||
        crc16::compute(frame) != 0) {
        return std::nullopt;
    }
    DecodedSettings s;
    s.loWord = detail::le32(frame, 13);
    s.tuneFrequency = static_cast<std::int32_t>(detail::le32(frame, 17));
    s.flags = frame[24];
    s.twoPointCode = detail::le16(frame, 28);
    s.threePointCode = detail::le16(frame, 36);
    s.fivePointCode = detail::le16(frame, 38);
    for (std::size_t i = 0; i < s.calibration.size(); ++i) {
        s.calibration[i] = frame[40 + i];
    }
    s.mode = frame[58];
    s.tuneWord = detail::le32(frame, 59);
    s.fixedBytesMatch = true;
    for (const auto& fixed : detail::kFixedBytes) {
        s.fixedBytesMatch = s.fixedBytesMatch && frame[fixed.offset] == fixed.value;
    }
    return s;
}

} // namespace zef::sim

// Frames as the instrument puts them on the wire: a sync preamble (the cycle
// AA 0F 55, 24 bytes or more), a 00 terminator, a type byte (5A: status,
// anything else: samples), the body and a CRC-16/MODBUS over type and body,
// low byte first. Header-only so that the simulator and the tests build
// streams the same way.
#pragma once

#include "main_thread/crc16.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zef::sim {

inline constexpr std::array<std::uint8_t, 3> kSyncCycle{0xAA, 0x0F, 0x55};
inline constexpr std::size_t kPreambleBytes = 24;
inline constexpr std::uint8_t kStatusType = 0x5A;
inline constexpr std::uint8_t kSampleType = 0x00;
inline constexpr std::size_t kStatusBodySize = 160;
inline constexpr std::size_t kSampleBodySize = 2048;
inline constexpr std::size_t kCalibrationSize = 64;
inline constexpr std::size_t kCalibrationAOffset = 26;
inline constexpr std::size_t kCalibrationBOffset = 90;
inline constexpr std::uint8_t kStateReady = 2;
inline constexpr std::uint8_t kStateAcknowledged = 3;

// Bytes a frame takes on the wire.
constexpr std::size_t frameSize(std::size_t bodySize, std::size_t preambleBytes = kPreambleBytes) {
    return preambleBytes + 1 + 1 + bodySize + 2;
}

// Writes `preambleBytes` bytes of the sync cycle starting at AA, then 00.
inline std::size_t writePreamble(std::uint8_t* out, std::size_t preambleBytes = kPreambleBytes) {
    for (std::size_t i = 0; i < preambleBytes; ++i) {
        out[i] = kSyncCycle[i % 3];
    }
    out[preambleBytes] = 0x00;
    return preambleBytes + 1;
}

// Writes a whole frame; `out` must hold frameSize(body.size(), preambleBytes).
inline std::size_t writeFrame(std::uint8_t* out, std::uint8_t type,
                              std::span<const std::uint8_t> body,
                              std::size_t preambleBytes = kPreambleBytes) {
    std::size_t n = writePreamble(out, preambleBytes);
    std::uint8_t* typeAndBody = out + n;
    typeAndBody[0] = type;
    for (std::size_t i = 0; i < body.size(); ++i) {
        typeAndBody[1 + i] = body[i];
    }
    crc16::seal(typeAndBody, 1 + body.size());
    return n + 1 + body.size() + 2;
}

inline void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type,
                        std::span<const std::uint8_t> body,
                        std::size_t preambleBytes = kPreambleBytes) {
    const std::size_t start = out.size();
    out.resize(start + frameSize(body.size(), preambleBytes));
    writeFrame(out.data() + start, type, body, preambleBytes);
}

// A status body: state code, model word, the two calibration blocks as given
// (their own CRCs are the caller's business: see sealBlock).
inline std::array<std::uint8_t, kStatusBodySize>
statusBody(std::uint8_t state, std::uint16_t model,
           std::span<const std::uint8_t, kCalibrationSize> blockA,
           std::span<const std::uint8_t, kCalibrationSize> blockB) {
    std::array<std::uint8_t, kStatusBodySize> body{};
    body[0] = state;
    body[4] = static_cast<std::uint8_t>(model & 0xFFU);
    body[5] = static_cast<std::uint8_t>(model >> 8U);
    for (std::size_t i = 0; i < kCalibrationSize; ++i) {
        body[kCalibrationAOffset + i] = blockA[i];
        body[kCalibrationBOffset + i] = blockB[i];
    }
    return body;
}

// Closes a calibration block with its own CRC in its last two bytes.
inline void sealBlock(std::span<std::uint8_t, kCalibrationSize> block) {
    crc16::seal(block.data(), kCalibrationSize - 2);
}

// Test-pattern body of sample frame n: pair i carries n * 512 + i, I the low
// half and Q the high half, little-endian.
inline void writePatternBody(std::uint8_t* out, std::uint32_t frameNumber) {
    for (std::size_t i = 0; i < kSampleBodySize / 4; ++i) {
        const std::uint32_t value = frameNumber * 512U + static_cast<std::uint32_t>(i);
        out[4 * i + 0] = static_cast<std::uint8_t>(value);
        out[4 * i + 1] = static_cast<std::uint8_t>(value >> 8U);
        out[4 * i + 2] = static_cast<std::uint8_t>(value >> 16U);
        out[4 * i + 3] = static_cast<std::uint8_t>(value >> 24U);
    }
}

// The frame number a test-pattern body carries, or -1 if any pair disagrees.
inline std::int64_t patternFrameNumber(const std::uint8_t* body) {
    auto word = [body](std::size_t i) {
        return static_cast<std::uint32_t>(body[4 * i]) |
               static_cast<std::uint32_t>(body[4 * i + 1]) << 8U |
               static_cast<std::uint32_t>(body[4 * i + 2]) << 16U |
               static_cast<std::uint32_t>(body[4 * i + 3]) << 24U;
    };
    const std::uint32_t first = word(0);
    if (first % 512U != 0) {
        return -1;
    }
    for (std::size_t i = 1; i < kSampleBodySize / 4; ++i) {
        if (word(i) != first + static_cast<std::uint32_t>(i)) {
            return -1;
        }
    }
    return first / 512U;
}

} // namespace zef::sim

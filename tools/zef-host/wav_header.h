// The WAV header SDR programs read: RIFF, a PCM "fmt " chunk (2 channels,
// I left and Q right, 16 bits), the 164-byte "auxi" chunk with start and stop
// time and centre frequency, then the "data" chunk header. 216 bytes in all.
#pragma once

#include "utc_time.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zef::host {

inline constexpr std::size_t kWavHeaderBytes = 216;
inline constexpr std::size_t kAuxiBytes = 164;
inline constexpr std::size_t kWavDataSizeOffset = 212;
inline constexpr std::size_t kAuxiOffset = 44; // the chunk's body
// The RIFF size field limits the data to just under 4 GiB, whole pairs only.
inline constexpr std::uint64_t kWavMaxDataBytes = (0xFFFFFFFFULL - (kWavHeaderBytes - 8)) & ~3ULL;

struct WavFields {
    std::uint32_t sampleRate = 0;
    std::uint32_t centreFrequency = 0;
    UtcTime start;
    UtcTime stop;
    std::uint32_t dataBytes = 0;
};

std::array<std::uint8_t, kWavHeaderBytes> wavHeader(const WavFields& fields);

} // namespace zef::host

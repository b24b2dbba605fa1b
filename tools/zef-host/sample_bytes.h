// I/Q pairs as the files carry them: interleaved int16, little-endian
// whatever the host's byte order.
#pragma once

#include "file_output.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::host {

inline bool writeLittleEndian(OutputFile& file, const std::int16_t* iq, std::size_t pairs,
                              std::vector<std::uint8_t>& buffer) {
    if constexpr (std::endian::native == std::endian::little) {
        return file.write(iq, pairs * 4);
    } else {
        buffer.resize(pairs * 4);
        for (std::size_t i = 0; i < pairs * 2; ++i) {
            const auto value = static_cast<std::uint16_t>(iq[i]);
            buffer[2 * i] = static_cast<std::uint8_t>(value & 0xFFU);
            buffer[2 * i + 1] = static_cast<std::uint8_t>(value >> 8U);
        }
        return file.write(buffer.data(), buffer.size());
    }
}

} // namespace zef::host

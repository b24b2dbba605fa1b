// What a host sends and receives, as bytes: the FPGA's bit-bang stream and
// the device's frames split out of a received stream. Shared by the tests of
// the simulated driver and of the bridge on its own.
#pragma once

#include "main_thread/crc16.h"
#include "sim/device_frames.h"

#include <cstdint>
#include <span>
#include <vector>

namespace zef::sim::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kSampleFrameBytes = frameSize(kSampleBodySize);
inline constexpr std::size_t kStatusFrameBytes = frameSize(kStatusBodySize);

// Bit-bang bytes for an image, as the plug-in's loader sends them.
inline Bytes expandImage(std::span<const std::uint8_t> image) {
    Bytes out;
    for (const std::uint8_t byte : image) {
        for (int bit = 7; bit >= 0; --bit) {
            const auto d = static_cast<std::uint8_t>((byte >> bit) & 1U);
            out.push_back(static_cast<std::uint8_t>(0x80U | d));
            out.push_back(static_cast<std::uint8_t>(0x84U | d));
        }
    }
    return out;
}

inline Bytes trailer() {
    Bytes out;
    for (int i = 0; i < 64; ++i) {
        out.push_back(0x85);
        out.push_back(0x81);
    }
    return out;
}

// The smallest image the FPGA accepts: dummy words, sync, IDCODE write,
// DESYNC, NOOPs.
inline Bytes minimalImage() {
    Bytes image(16, 0xFF);
    const Bytes rest = {0xAA, 0x99, 0x55, 0x66, 0x31, 0xC2, 0x04, 0x00, 0x10,
                        0x93, 0x30, 0xA1, 0x00, 0x0D, 0x20, 0x00, 0x20, 0x00};
    image.insert(image.end(), rest.begin(), rest.end());
    return image;
}

struct Frame {
    std::uint8_t type = 0;
    Bytes body;
    bool crcGood = false;
};

// Splits a received stream at each 24-byte preamble and its 00.
inline std::vector<Frame> splitFrames(std::span<const std::uint8_t> s) {
    std::vector<Frame> frames;
    std::size_t i = 0;
    while (i + kPreambleBytes + 2 < s.size()) {
        bool preamble = s[i + kPreambleBytes] == 0;
        for (std::size_t k = 0; preamble && k < kPreambleBytes; ++k) {
            preamble = s[i + k] == kSyncCycle[k % 3];
        }
        if (!preamble) {
            ++i;
            continue;
        }
        const std::size_t start = i + kPreambleBytes + 1;
        const std::size_t bodySize = s[start] == kStatusType ? kStatusBodySize : kSampleBodySize;
        if (start + 1 + bodySize + 2 > s.size()) {
            break;
        }
        Frame f;
        f.type = s[start];
        f.body.assign(s.begin() + static_cast<std::ptrdiff_t>(start + 1),
                      s.begin() + static_cast<std::ptrdiff_t>(start + 1 + bodySize));
        f.crcGood = crc16::compute(s.subspan(start, 1 + bodySize + 2)) == 0;
        frames.push_back(std::move(f));
        i = start + 1 + bodySize + 2;
    }
    return frames;
}

} // namespace zef::sim::test

#include "fpga_decoder.h"

#include <algorithm>
#include <array>

namespace zef::sim {

namespace {

constexpr std::uint8_t kProgramLine = 0x80;
constexpr std::uint8_t kClockLine = 0x04;
constexpr std::uint8_t kDataLine = 0x01;

constexpr std::array<std::uint8_t, 4> kSyncWord = {0xAA, 0x99, 0x55, 0x66};
constexpr std::array<std::uint16_t, 3> kIdcodeWrite = {0x31C2, 0x0400, 0x1093};

unsigned trailingOnes(unsigned value, unsigned bits) {
    unsigned ones = 0;
    while (ones < bits && ((value >> ones) & 1U) != 0) {
        ++ones;
    }
    return ones;
}

std::uint16_t halfword(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8U | bytes[at + 1]);
}

} // namespace

void BitBangDecoder::reset() {
    *this = BitBangDecoder{};
}

void BitBangDecoder::feed(const std::uint8_t* pins, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t p = pins[i];
        const bool clock = (p & kClockLine) != 0;
        if ((p & kProgramLine) == 0) {
            // PROGRAM_B low: configuration memory cleared, start over.
            bytes_.clear();
            partial_ = 0;
            partialBits_ = 0;
            pulsed_ = true;
        } else if (pulsed_ && clock && !clockHigh_) {
            partial_ = static_cast<std::uint8_t>(partial_ << 1U | (p & kDataLine));
            if (++partialBits_ == 8) {
                bytes_.push_back(partial_);
                partial_ = 0;
                partialBits_ = 0;
            }
        }
        clockHigh_ = clock;
    }
}

std::size_t BitBangDecoder::imageLength() const {
    if (trailingOnes(partial_, partialBits_) < partialBits_) {
        return bytes_.size(); // a 0 among the unfinished bits
    }
    std::size_t length = bytes_.size();
    while (length > 0 && bytes_[length - 1] == 0xFF) {
        --length;
    }
    return length;
}

std::vector<std::uint8_t> BitBangDecoder::image() const {
    const auto end = bytes_.begin() + static_cast<std::ptrdiff_t>(imageLength());
    return {bytes_.begin(), end};
}

std::size_t BitBangDecoder::trailerClocks() const {
    const unsigned partialOnes = trailingOnes(partial_, partialBits_);
    if (partialOnes < partialBits_) {
        return partialOnes;
    }
    const std::size_t length = imageLength();
    std::size_t clocks = partialBits_ + 8 * (bytes_.size() - length);
    if (length > 0) {
        clocks += trailingOnes(bytes_[length - 1], 8);
    }
    return clocks;
}

bool configurationAccepted(std::span<const std::uint8_t> image, std::size_t trailerClocks) {
    if (trailerClocks < kMinTrailerClocks) {
        return false;
    }
    const auto sync = std::search(image.begin(), image.end(), kSyncWord.begin(), kSyncWord.end());
    if (sync == image.end()) {
        return false;
    }
    std::size_t at = static_cast<std::size_t>(sync - image.begin()) + kSyncWord.size();
    for (; at + 2 * kIdcodeWrite.size() <= image.size(); at += 2) {
        if (halfword(image, at) == kIdcodeWrite[0] && halfword(image, at + 2) == kIdcodeWrite[1] &&
            halfword(image, at + 4) == kIdcodeWrite[2]) {
            return true;
        }
    }
    return false;
}

} // namespace zef::sim

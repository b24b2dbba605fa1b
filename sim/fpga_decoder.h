// The FPGA's slave-serial configuration port, driven through the bridge's
// bit-bang lines: bit 7 PROGRAM_B (low clears the FPGA), bit 2 CCLK, bit 0
// DIN, sampled on each rising clock, most significant bit first.
//
// A configuration is accepted when the rebuilt image holds
//   - the sync word AA 99 55 66 (byte-aligned), and after it, on the 16-bit
//     grid the sync word starts, the halfwords 31C2 0400 1093: a Spartan-6
//     type-1 packet header (type 001, opcode 10 write, register 0x0E IDCODE,
//     word count 2) followed by the IDCODE 0x04001093, big-endian;
//   - and at least 8 clocks with data 1 follow the image (the trailer).
// The image is every whole byte clocked in after the program pulse, up to
// the byte holding the last 0 bit; the 1 bits after it are trailer clocks.
// So an image must not end in FF (Spartan-6 bitstreams end in NOOPs, 20 00).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zef::sim {

inline constexpr std::size_t kMinTrailerClocks = 8;

class BitBangDecoder {
  public:
    void reset();
    void feed(const std::uint8_t* pins, std::size_t n);

    // A program pulse was seen since the last reset: the FPGA lost its
    // configuration and collects a new image.
    [[nodiscard]] bool programPulsed() const { return pulsed_; }
    [[nodiscard]] std::vector<std::uint8_t> image() const;
    [[nodiscard]] std::size_t trailerClocks() const;

  private:
    [[nodiscard]] std::size_t imageLength() const;

    std::vector<std::uint8_t> bytes_;
    std::uint8_t partial_ = 0;
    unsigned partialBits_ = 0;
    bool clockHigh_ = false;
    bool pulsed_ = false;
};

bool configurationAccepted(std::span<const std::uint8_t> image, std::size_t trailerClocks);

} // namespace zef::sim

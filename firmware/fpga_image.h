// FpgaImage: the FPGA configuration image carried inside the plug-in, a raw
// Spartan-6 bitstream sent byte for byte, most significant bit first.
#pragma once

#include <cstdint>
#include <span>

namespace zef {

struct FpgaImage {
    std::uint32_t length;
    const std::uint8_t* bytes;

    [[nodiscard]] std::span<const std::uint8_t> span() const { return {bytes, length}; }
};

// The embedded image: the placeholder unless the build was given the
// instrument's own gateware or zef-gateware put it into the built file.
FpgaImage fpgaImage();

// True when the embedded image is the placeholder, which frames correctly but
// cannot bring up a real instrument.
bool fpgaImageIsPlaceholder();

} // namespace zef

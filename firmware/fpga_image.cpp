#include "fpga_image.h"

#include "gateware_region.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

// The region in fpga_image_data.S. Its contents are unknown to the compiler,
// so the length and flags are read from the file as zef-gateware left them.
extern "C" {
extern const std::uint8_t zef_gateware_region[];
}

namespace zef {

namespace {

static_assert(std::endian::native == std::endian::little, "the region is little-endian");

std::uint32_t regionField(std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, zef_gateware_region + offset, sizeof value);
    return value;
}

} // namespace

FpgaImage fpgaImage() {
    // A damaged length must not read past the region.
    const std::uint32_t length =
        std::min(regionField(gateware::kLengthOffset), gateware::kCapacity);
    return {length, zef_gateware_region + gateware::kHeaderSize};
}

bool fpgaImageIsPlaceholder() {
    return (regionField(gateware::kFlagsOffset) & gateware::kFlagPlaceholder) != 0;
}

} // namespace zef

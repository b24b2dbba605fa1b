#include "fpga_image.h"

// Labels around the bytes in fpga_image_data.S.
extern "C" {
extern const std::uint8_t zef_fpga_image_begin[];
extern const std::uint8_t zef_fpga_image_end[];
}

namespace zef {

FpgaImage fpgaImage() {
    return {static_cast<std::uint32_t>(zef_fpga_image_end - zef_fpga_image_begin),
            zef_fpga_image_begin};
}

bool fpgaImageIsPlaceholder() {
    return ZEF_FPGA_IMAGE_IS_PLACEHOLDER != 0;
}

} // namespace zef

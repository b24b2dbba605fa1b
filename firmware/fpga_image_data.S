/* The FPGA image bytes, taken from the file named by ZEF_FPGA_IMAGE_FILE at
   build time, between two labels that fpga_image.cpp measures. */

/* 32-bit Windows prefixes C names with an underscore. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZEF_IMAGE_BEGIN _zef_fpga_image_begin
#define ZEF_IMAGE_END _zef_fpga_image_end
#else
#define ZEF_IMAGE_BEGIN zef_fpga_image_begin
#define ZEF_IMAGE_END zef_fpga_image_end
#endif

#if defined(_WIN32)
    .section .rdata, "dr"
#else
    .section .rodata
    .hidden ZEF_IMAGE_BEGIN
    .hidden ZEF_IMAGE_END
#endif
    .globl ZEF_IMAGE_BEGIN
    .globl ZEF_IMAGE_END
    .balign 16
ZEF_IMAGE_BEGIN:
    .incbin ZEF_FPGA_IMAGE_FILE
ZEF_IMAGE_END:
    .byte 0

#if defined(__ELF__)
    .section .note.GNU-stack, "", %progbits
#endif

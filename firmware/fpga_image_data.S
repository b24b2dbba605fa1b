/* The gateware region (gateware_region.h): header, the image taken from the
   file named by ZEF_FPGA_IMAGE_FILE at build time, and zeros up to the
   capacity, so that a tool can later put a longer image in its place. */
#include "gateware_region.h"

/* 32-bit Windows prefixes C names with an underscore. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZEF_REGION _zef_gateware_region
#else
#define ZEF_REGION zef_gateware_region
#endif

#if defined(_WIN32)
    .section .rdata, "dr"
#else
    .section .rodata
    .hidden ZEF_REGION
#endif
    .globl ZEF_REGION
    .balign 16
ZEF_REGION:
    .ascii ZEF_GATEWARE_MARKER
    .long ZEF_GATEWARE_VERSION
    .long ZEF_GATEWARE_CAPACITY
    .long ZEF_FPGA_IMAGE_IS_PLACEHOLDER
    .long .Limage_end - .Limage_begin
.Limage_begin:
    .incbin ZEF_FPGA_IMAGE_FILE
.Limage_end:
    .if (.Limage_end - .Limage_begin) > ZEF_GATEWARE_CAPACITY
    .error "the FPGA image does not fit the gateware region"
    .endif
    .fill ZEF_GATEWARE_CAPACITY - (.Limage_end - .Limage_begin), 1, 0

#if defined(__ELF__)
    .section .note.GNU-stack, "", %progbits
#endif

/* The gateware region: where a built plug-in file keeps FpgaImage, so that
 * zef-gateware can put another image into a DLL or shared library without a
 * compiler. Found by its marker; all numbers little-endian.
 *
 *   offset  0  16 bytes  marker "ZEF418/gateware/"
 *   offset 16  u32       layout version (1)
 *   offset 20  u32       capacity: bytes reserved for the image
 *   offset 24  u32       flags (bit 0: the image is the placeholder)
 *   offset 28  u32       image length
 *   offset 32  capacity bytes: the image, then zeros
 *
 * Shared by the assembler data file, so only preprocessor definitions
 * outside the C++ part. */
#ifndef ZEF_GATEWARE_REGION_H
#define ZEF_GATEWARE_REGION_H

#define ZEF_GATEWARE_MARKER "ZEF418/gateware/"
#define ZEF_GATEWARE_VERSION 1
/* An uncompressed XC6SLX9 bitstream is 342,816 bytes; 384 KiB leaves room
 * for the few packets a tool chain may add around it. */
#define ZEF_GATEWARE_CAPACITY 393216
#define ZEF_GATEWARE_FLAG_PLACEHOLDER 1

#if defined(__cplusplus)
#include <cstddef>
#include <cstdint>

namespace zef::gateware {

inline constexpr char kMarker[] = ZEF_GATEWARE_MARKER;
inline constexpr std::size_t kMarkerSize = sizeof kMarker - 1;
inline constexpr std::size_t kVersionOffset = 16;
inline constexpr std::size_t kCapacityOffset = 20;
inline constexpr std::size_t kFlagsOffset = 24;
inline constexpr std::size_t kLengthOffset = 28;
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::uint32_t kVersion = ZEF_GATEWARE_VERSION;
inline constexpr std::uint32_t kCapacity = ZEF_GATEWARE_CAPACITY;
inline constexpr std::uint32_t kFlagPlaceholder = ZEF_GATEWARE_FLAG_PLACEHOLDER;

static_assert(kMarkerSize == 16);

} // namespace zef::gateware
#endif

#endif /* ZEF_GATEWARE_REGION_H */

#include "plugin_region.h"

#include "gateware_region.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zef::gateware {

namespace {

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8U |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16U |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24U;
}

void putLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

constexpr std::size_t kPeOffsetField = 0x3C;
// The checksum field, from the optional header's start (PE32 and PE32+).
constexpr std::size_t kPeChecksumField = 64;

std::size_t peChecksumOffset(std::span<const std::uint8_t> file) {
    return littleEndian32(file, kPeOffsetField) + 24 + kPeChecksumField;
}

// "" when the file is neither a PE nor an ELF image. A PE file's optional
// header reaches at least to its checksum field, which embedding rewrites.
std::string fileFormat(std::span<const std::uint8_t> file) {
    if (file.size() >= 64 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' &&
        file[3] == 'F') {
        return file[4] == 2 ? "64-bit ELF shared library" : "32-bit ELF shared library";
    }
    if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') {
        return {};
    }
    const std::size_t pe = littleEndian32(file, kPeOffsetField);
    // Signature, file header (20 bytes), then the optional header.
    constexpr std::size_t kHeadersToChecksum = 24 + kPeChecksumField + 4;
    if (file.size() < kHeadersToChecksum || pe > file.size() - kHeadersToChecksum ||
        std::memcmp(file.data() + pe, "PE\0\0", 4) != 0) {
        return {};
    }
    const unsigned magic = file[pe + 24] | static_cast<unsigned>(file[pe + 25]) << 8U;
    return magic == 0x20B ? "64-bit Windows DLL" : "32-bit Windows DLL";
}

// The image checksum as the Windows tools compute it: 16-bit one's-complement
// style sum of the file without the field, plus the file's length.
std::uint32_t peChecksum(std::span<const std::uint8_t> file, std::size_t field) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < file.size(); at += 2) {
        if (at == field || at == field + 2) {
            continue;
        }
        const unsigned high = at + 1 < file.size() ? file[at + 1] : 0U;
        sum += file[at] | high << 8U;
        sum = (sum & 0xFFFFU) + (sum >> 16U);
    }
    sum = (sum & 0xFFFFU) + (sum >> 16U);
    return static_cast<std::uint32_t>(sum + file.size());
}

} // namespace

bool PluginRegion::placeholder() const {
    return (flags & kFlagPlaceholder) != 0;
}

std::span<const std::uint8_t> PluginRegion::image(std::span<const std::uint8_t> file) const {
    return file.subspan(offset + kHeaderSize, length);
}

PluginRegion findRegion(std::span<const std::uint8_t> file, std::string& error) {
    PluginRegion region;
    region.format = fileFormat(file);
    if (region.format.empty()) {
        error = "not a plug-in file: neither a Windows DLL nor an ELF shared library";
        return region;
    }
    const bool windows = region.format.find("Windows") != std::string::npos;
    const std::size_t checksum = windows ? peChecksumOffset(file) : 0;
    region.checksumField = checksum;
    const std::span<const char> marker(kMarker, kMarkerSize);
    std::size_t found = 0;
    for (auto at = file.begin();
         (at = std::search(at, file.end(), marker.begin(), marker.end())) != file.end(); ++at) {
        const auto offset = static_cast<std::size_t>(at - file.begin());
        if (file.size() - offset < kHeaderSize ||
            littleEndian32(file, offset + kVersionOffset) != kVersion) {
            continue;
        }
        const std::uint32_t capacity = littleEndian32(file, offset + kCapacityOffset);
        const std::uint32_t length = littleEndian32(file, offset + kLengthOffset);
        if (capacity > file.size() - offset - kHeaderSize || length > capacity) {
            continue;
        }
        // Embedding rewrites a DLL's checksum, found through the headers
        // before it: a region over them would garble the image or the file.
        if (windows && offset < std::max<std::size_t>(checksum + 4, kPeOffsetField + 4)) {
            continue;
        }
        region.offset = offset;
        region.capacity = capacity;
        region.flags = littleEndian32(file, offset + kFlagsOffset);
        region.length = length;
        ++found;
    }
    if (found == 0) {
        error = "not a plug-in file: it has no ExtIO_Zef gateware region (" + region.format +
                " of another program, or a plug-in older than this tool)";
    } else if (found > 1) {
        error = "not a plug-in file: it has " + std::to_string(found) + " gateware regions";
    } else {
        error.clear();
    }
    return region;
}

void writeImage(std::vector<std::uint8_t>& file, const PluginRegion& region,
                std::span<const std::uint8_t> image) {
    const std::size_t begin = region.offset + kHeaderSize;
    putLittleEndian32(file, region.offset + kFlagsOffset, region.flags & ~kFlagPlaceholder);
    putLittleEndian32(file, region.offset + kLengthOffset,
                      static_cast<std::uint32_t>(image.size()));
    std::copy(image.begin(), image.end(), file.begin() + static_cast<std::ptrdiff_t>(begin));
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(begin + image.size()),
              file.begin() + static_cast<std::ptrdiff_t>(begin + region.capacity), 0);
    // A DLL that carries a checksum gets the new one; 0 means none.
    const std::size_t field = region.checksumField;
    if (field != 0 && littleEndian32(file, field) != 0) {
        putLittleEndian32(file, field, peChecksum(file, field));
    }
}

} // namespace zef::gateware

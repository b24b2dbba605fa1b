// The gateware region inside a built plug-in file (firmware/gateware_region.h):
// found by its marker in a 32- or 64-bit PE DLL or an ELF shared library,
// read and rewritten in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zef::gateware {

struct PluginRegion {
    std::string format;     // "32-bit Windows DLL", "64-bit ELF shared library", ...
    std::size_t offset = 0; // of the marker in the file
    std::uint32_t capacity = 0;
    std::uint32_t flags = 0;
    std::uint32_t length = 0;
    std::size_t checksumField = 0; // of a PE file, before the region; 0: none

    [[nodiscard]] bool placeholder() const;
    [[nodiscard]] std::span<const std::uint8_t> image(std::span<const std::uint8_t> file) const;
};

// Empty `error` on success; otherwise why the file is not a plug-in file.
PluginRegion findRegion(std::span<const std::uint8_t> file, std::string& error);

// Puts `image` (at most region.capacity bytes) into the file: length, the
// placeholder flag cleared, the bytes, zeros after them.
void writeImage(std::vector<std::uint8_t>& file, const PluginRegion& region,
                std::span<const std::uint8_t> image);

} // namespace zef::gateware

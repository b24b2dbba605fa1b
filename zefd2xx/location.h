// The 32-bit location id of a bridge, or of one channel of a chip with
// several, made from where it is plugged in, so that the same socket gives
// the same id after a replug or a reboot.
//
// FTDI's form: one hex digit for the bus, one for each port of the path and,
// on a chip with several channels, one for the channel (1 for A, 2 for B):
// bus 2, ports 1.4 is 0x214, its channel B 0x2142. It fits while each number
// is 1 to 15 and there are at most eight; buses, ports and channels count
// from 1, so it never has a 0 digit below its leading one. Every other path
// (a bus or port above 15, a deep hub) gets an id that has one: 0xF0 and 24
// bits of a hash of the whole path, the next free one when two of a listing
// collide, so that the ids of one listing all differ.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zef::zefd2xx {

struct PortPath {
    static constexpr std::size_t kMaxDepth = 7; // USB allows no deeper path
    std::uint8_t bus = 0;
    std::array<std::uint8_t, kMaxDepth> ports{};
    std::size_t depth = 0;
    std::uint8_t channel = 0; // 0 on a chip with one channel, else 1 for A, 2 for B, ...

    friend bool operator==(const PortPath&, const PortPath&) = default;
};

constexpr std::optional<std::uint32_t> ftdiLocation(const PortPath& path) {
    const std::size_t digits = 1 + path.depth + (path.channel != 0 ? 1 : 0);
    bool fits = digits <= 8 && path.bus >= 1 && path.bus <= 0xF && path.channel <= 0xF;
    for (std::size_t i = 0; i < path.depth; ++i) {
        fits = fits && path.ports[i] >= 1 && path.ports[i] <= 0xF;
    }
    if (!fits) {
        return std::nullopt;
    }
    std::uint32_t location = path.bus;
    for (std::size_t i = 0; i < path.depth; ++i) {
        location = location << 4U | path.ports[i];
    }
    return path.channel != 0 ? location << 4U | path.channel : location;
}

// The ids of the paths of one listing, in the same order.
std::vector<std::uint32_t> locationIds(std::span<const PortPath> paths);

} // namespace zef::zefd2xx

#include "location.h"

#include <algorithm>
#include <tuple>

namespace zef::zefd2xx {

namespace {

constexpr std::uint32_t kWideMark = 0xF0000000;
constexpr std::uint32_t kWideMask = 0x00FFFFFF;

// FNV-1a over the path's numbers.
std::uint32_t hashOf(const PortPath& path) {
    std::uint32_t hash = 2166136261U;
    const auto mix = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 16777619U;
    };
    mix(path.bus);
    mix(static_cast<std::uint8_t>(path.depth));
    for (std::size_t i = 0; i < path.depth; ++i) {
        mix(path.ports[i]);
    }
    mix(path.channel);
    return hash ^ (hash >> 24U);
}

bool pathBefore(const PortPath& a, const PortPath& b) {
    const auto key = [](const PortPath& p) {
        return std::tuple(p.bus, p.depth, p.ports, p.channel);
    };
    return key(a) < key(b);
}

} // namespace

std::vector<std::uint32_t> locationIds(std::span<const PortPath> paths) {
    std::vector<std::uint32_t> ids(paths.size(), 0);
    std::vector<std::size_t> wide;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (const auto id = ftdiLocation(paths[i])) {
            ids[i] = *id;
        } else {
            wide.push_back(i);
        }
    }
    // The wide ids never meet FTDI's, which have no 0 digit; among
    // themselves, the earlier path keeps its hash.
    std::sort(wide.begin(), wide.end(),
              [&](std::size_t a, std::size_t b) { return pathBefore(paths[a], paths[b]); });
    std::vector<std::uint32_t> taken;
    for (const std::size_t i : wide) {
        std::uint32_t id = kWideMark | (hashOf(paths[i]) & kWideMask);
        while (std::find(taken.begin(), taken.end(), id) != taken.end()) {
            id = kWideMark | ((id + 1U) & kWideMask);
        }
        taken.push_back(id);
        ids[i] = id;
    }
    return ids;
}

} // namespace zef::zefd2xx

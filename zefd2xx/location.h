// The 32-bit location id of a bridge, made from where it is plugged in, so
// that the same socket gives the same id after a replug or a reboot.
#pragma once

#include <cstdint>
#include <span>

namespace zef::zefd2xx {

// The bus number, then each port of the path, one hex digit each (bus 2,
// ports 1.4: 0x214), as FTDI's Linux driver counts them. A bus or port above
// 15, or a path too deep for 32 bits, takes one byte each instead: the bus,
// then the last three ports.
constexpr std::uint32_t locationId(std::uint8_t bus, std::span<const std::uint8_t> ports) {
    bool digits = bus > 0 && bus <= 0xF && ports.size() <= 7;
    for (const std::uint8_t port : ports) {
        digits = digits && port <= 0xF;
    }
    std::uint32_t location = bus;
    if (digits) {
        for (const std::uint8_t port : ports) {
            location = location << 4U | port;
        }
        return location;
    }
    const std::size_t first = ports.size() > 3 ? ports.size() - 3 : 0;
    for (std::size_t i = first; i < ports.size(); ++i) {
        location = location << 8U | ports[i];
    }
    return location;
}

} // namespace zef::zefd2xx

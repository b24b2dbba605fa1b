// What a USB 2.0 bus carries in bulk transfers, whoever models the bridge:
// a full-speed bus runs 1 ms frames of at most 19 bulk packets of 64 bytes
// (1,216,000 bytes a second), a high-speed bus 125 us microframes of at most
// 13 packets of 512 (53,248,000 a second). Bit-bang bytes cross it as bulk
// OUT, so on a full-speed bridge they leave no faster than that, whatever
// the baud rate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zef::sim {

struct UsbBus {
    std::size_t packetBytes;
    std::uint64_t frameUs;
    std::uint64_t packetsPerFrame;

    // How long one bulk packet holds the bus, rounded up.
    [[nodiscard]] constexpr std::uint64_t packetUs() const {
        return (frameUs + packetsPerFrame - 1) / packetsPerFrame;
    }
    [[nodiscard]] constexpr std::uint64_t bytesPerSecond() const {
        return packetBytes * packetsPerFrame * 1000000U / frameUs;
    }
};

inline constexpr UsbBus kFullSpeedBus{64, 1000, 19};
inline constexpr UsbBus kHighSpeedBus{512, 125, 13};

// Bytes a second that leave on the pins when the bus and the chip's own
// clock both limit them.
constexpr std::uint64_t pacedBytesPerSecond(const UsbBus& bus, std::uint64_t pinBytesPerSecond) {
    const std::uint64_t busRate = bus.bytesPerSecond();
    const std::uint64_t rate = pinBytesPerSecond < busRate ? pinBytesPerSecond : busRate;
    return rate > 0 ? rate : 1;
}

} // namespace zef::sim

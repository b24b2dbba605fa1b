// The FTDI chips the test bed emulates, as the USB bus sees them: product id,
// chip revision (which libftdi reads the chip type from), bus speed and
// packet size, and how many channels, each an interface with a bulk-IN and a
// bulk-OUT endpoint of its own.
#pragma once

#include "sim/usb_bus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::usbtest {

struct BridgeModel {
    const char* name;
    std::uint16_t productId;
    std::uint16_t bcdDevice;
    const sim::UsbBus* bus;
    unsigned speedMbps; // sysfs "speed"
    std::size_t channels;
};

// Full speed, 64-byte packets, one interface.
inline constexpr BridgeModel kFt232r{"FT232R", 0x6001, 0x0600, &sim::kFullSpeedBus, 12, 1};
// High speed, 512-byte packets, interfaces A and B.
inline constexpr BridgeModel kFt2232h{"FT2232H", 0x6010, 0x0700, &sim::kHighSpeedBus, 480, 2};
// High speed, one interface: the gateware goes at the pins' 3 MB/s, for the
// tests that need a load but not its full-speed time.
inline constexpr BridgeModel kFt232h{"FT232H", 0x6014, 0x0900, &sim::kHighSpeedBus, 480, 1};

// Device descriptor, then the one configuration with its interfaces.
std::vector<std::uint8_t> descriptorsOf(const BridgeModel& model);
// A plain hub, for the paths behind one.
std::vector<std::uint8_t> hubDescriptors();

// Channel A's endpoints are 0x81 (IN) and 0x02 (OUT), B's 0x83 and 0x04.
constexpr std::size_t channelOfEndpoint(std::uint8_t endpoint) {
    return ((endpoint & 0x0FU) - 1U) / 2U;
}

} // namespace zef::usbtest

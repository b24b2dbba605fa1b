// Every FTDI bridge on the machine (vendor 0403 with FTDI's own product
// ids), in the order of their location ids, so that an index means the same
// device from one listing to the next while nothing is plugged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ftdi_context;
struct libusb_device;

namespace zef::zefd2xx {

struct ListedBridge {
    std::uint32_t location = 0;
    std::string description; // the USB product string
    std::string serial;
};

// Opens nothing when sysfs shows the strings (as it does on Linux); only
// without it are they read from the device itself.
std::vector<ListedBridge> listBridges();

// The location id of a device libusb found.
std::uint32_t locationOf(libusb_device* device);

} // namespace zef::zefd2xx

// Every FTDI bridge on the machine (vendor 0403 with FTDI's own product
// ids), one entry for each channel of a chip with several, in the order of
// their location ids, so that an index means the same device from one
// listing to the next while nothing is plugged. As FTDI's driver lists such
// a chip, each channel's description is the product string followed by
// " A", " B", ..., and its serial number the chip's followed by the letter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ftdi_context;
struct ftdi_device_list;
struct libusb_device;

namespace zef::zefd2xx {

struct ListedBridge {
    std::uint32_t location = 0;
    std::string description;
    std::string serial;
};

// Opens nothing when sysfs shows the strings (as it does on Linux); only
// without it are they read from the device itself.
std::vector<ListedBridge> listBridges();

// A listed channel with what opening it takes: its device among `found`,
// which the caller frees with ftdi_list_free, and its interface (0 for A).
struct FoundBridge {
    ListedBridge listed;
    libusb_device* device = nullptr;
    int interface = 0;
};
std::vector<FoundBridge> findBridges(ftdi_context* ftdi, ftdi_device_list*& found);

} // namespace zef::zefd2xx

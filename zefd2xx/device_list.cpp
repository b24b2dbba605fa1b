#include "device_list.h"

#include "location.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <fstream>

namespace zef::zefd2xx {

namespace {

constexpr int kMaxPorts = 7; // USB allows no deeper path

struct Path {
    std::uint8_t bus = 0;
    std::array<std::uint8_t, kMaxPorts> ports{};
    std::size_t depth = 0;
};

Path pathOf(libusb_device* device) {
    Path path;
    path.bus = libusb_get_bus_number(device);
    const int depth = libusb_get_port_numbers(device, path.ports.data(), kMaxPorts);
    path.depth = depth > 0 ? static_cast<std::size_t>(depth) : 0;
    return path;
}

// The kernel's name of the device: "2-1.4" for bus 2, ports 1.4.
std::string sysfsName(const Path& path) {
    std::string name = std::to_string(path.bus) + "-";
    for (std::size_t i = 0; i < path.depth; ++i) {
        name += (i > 0 ? "." : "") + std::to_string(path.ports[i]);
    }
    return name;
}

bool readAttribute(const std::string& device, const char* attribute, std::string& value) {
    std::ifstream file("/sys/bus/usb/devices/" + device + "/" + attribute);
    return static_cast<bool>(std::getline(file, value));
}

} // namespace

std::uint32_t locationOf(libusb_device* device) {
    const Path path = pathOf(device);
    return locationId(path.bus, std::span<const std::uint8_t>(path.ports.data(), path.depth));
}

std::vector<ListedBridge> listBridges() {
    std::vector<ListedBridge> bridges;
    // A context of its own each time: libusb scans the bus afresh at its
    // start, where a kept one would depend on hotplug events having arrived.
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        return bridges;
    }
    ftdi_device_list* found = nullptr;
    if (ftdi_usb_find_all(ftdi, &found, 0, 0) < 0) {
        ftdi_free(ftdi);
        return bridges;
    }
    for (ftdi_device_list* item = found; item != nullptr; item = item->next) {
        ListedBridge bridge;
        bridge.location = locationOf(item->dev);
        const std::string name = sysfsName(pathOf(item->dev));
        if (!readAttribute(name, "product", bridge.description)) {
            std::array<char, 128> description{};
            std::array<char, 128> serial{};
            if (ftdi_usb_get_strings2(ftdi, item->dev, nullptr, 0, description.data(),
                                      static_cast<int>(description.size()), serial.data(),
                                      static_cast<int>(serial.size())) == 0) {
                bridge.description = description.data();
                bridge.serial = serial.data();
            }
        } else {
            readAttribute(name, "serial", bridge.serial);
        }
        bridges.push_back(std::move(bridge));
    }
    ftdi_list_free(&found);
    ftdi_free(ftdi);
    std::stable_sort(
        bridges.begin(), bridges.end(),
        [](const ListedBridge& a, const ListedBridge& b) { return a.location < b.location; });
    return bridges;
}

} // namespace zef::zefd2xx

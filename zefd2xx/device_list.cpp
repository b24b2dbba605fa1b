#include "device_list.h"

#include "location.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <fstream>

namespace zef::zefd2xx {

namespace {

PortPath pathOf(libusb_device* device) {
    PortPath path;
    path.bus = libusb_get_bus_number(device);
    const int depth =
        libusb_get_port_numbers(device, path.ports.data(), static_cast<int>(path.ports.size()));
    path.depth = depth > 0 ? static_cast<std::size_t>(depth) : 0;
    return path;
}

// The kernel's name of the device: "2-1.4" for bus 2, ports 1.4.
std::string sysfsName(const PortPath& path) {
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

// From the configuration descriptor, which libusb reads from sysfs.
int channelsOf(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != 0 || config == nullptr) {
        return 1;
    }
    const int interfaces = config->bNumInterfaces;
    libusb_free_config_descriptor(config);
    return std::clamp(interfaces, 1, 4); // libftdi names interfaces A to D
}

void readStrings(ftdi_context* ftdi, libusb_device* device, const PortPath& path,
                 ListedBridge& bridge) {
    const std::string name = sysfsName(path);
    if (readAttribute(name, "product", bridge.description)) {
        readAttribute(name, "serial", bridge.serial);
        return;
    }
    std::array<char, 128> description{};
    std::array<char, 128> serial{};
    if (ftdi_usb_get_strings2(ftdi, device, nullptr, 0, description.data(),
                              static_cast<int>(description.size()), serial.data(),
                              static_cast<int>(serial.size())) == 0) {
        bridge.description = description.data();
        bridge.serial = serial.data();
    }
}

} // namespace

std::vector<FoundBridge> findBridges(ftdi_context* ftdi, ftdi_device_list*& found) {
    std::vector<FoundBridge> bridges;
    std::vector<PortPath> paths;
    found = nullptr;
    if (ftdi_usb_find_all(ftdi, &found, 0, 0) < 0) {
        return bridges;
    }
    for (ftdi_device_list* item = found; item != nullptr; item = item->next) {
        PortPath path = pathOf(item->dev);
        ListedBridge chip;
        readStrings(ftdi, item->dev, path, chip);
        const int channels = channelsOf(item->dev);
        for (int channel = 0; channel < channels; ++channel) {
            FoundBridge bridge{chip, item->dev, channel};
            if (channels > 1) {
                const char letter = static_cast<char>('A' + channel);
                bridge.listed.description += std::string(" ") + letter;
                bridge.listed.serial += letter;
                path.channel = static_cast<std::uint8_t>(channel + 1);
            }
            bridges.push_back(std::move(bridge));
            paths.push_back(path);
        }
    }
    const std::vector<std::uint32_t> ids = locationIds(paths);
    for (std::size_t i = 0; i < bridges.size(); ++i) {
        bridges[i].listed.location = ids[i];
    }
    std::stable_sort(bridges.begin(), bridges.end(),
                     [](const FoundBridge& a, const FoundBridge& b) {
                         return a.listed.location < b.listed.location;
                     });
    return bridges;
}

std::vector<ListedBridge> listBridges() {
    std::vector<ListedBridge> listed;
    // A context of its own each time: libusb scans the bus afresh at its
    // start, where a kept one would depend on hotplug events having arrived.
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        return listed;
    }
    ftdi_device_list* found = nullptr;
    for (FoundBridge& bridge : findBridges(ftdi, found)) {
        listed.push_back(std::move(bridge.listed));
    }
    ftdi_list_free(&found);
    ftdi_free(ftdi);
    return listed;
}

} // namespace zef::zefd2xx

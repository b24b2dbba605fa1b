#include "usb_testbed.h"

#include <umockdev.h>

#include <cstdio>
#include <stdexcept>

#if defined(__SANITIZE_THREAD__)
// GLib's mutexes are futexes that ThreadSanitizer cannot see, so it reports
// races inside umockdev's test-bed side and GLib that are none. The open
// driver and the core run in the client threads, whose stacks hold only
// umockdev's preload library, which stays checked.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "race:libumockdev.so.0\nrace:libglib-2.0.so.0\nrace:libgobject-2.0.so.0\n"
           "race:libgio-2.0.so.0\n";
}
#endif

namespace zef::usbtest {

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFU);
    return text;
}

// "2-1.4" for bus 2, ports 1.4.
std::string sysfsName(std::uint8_t bus, const std::vector<std::uint8_t>& ports, std::size_t depth) {
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < depth; ++i) {
        name += (i > 0 ? "." : "") + std::to_string(ports[i]);
    }
    return name;
}

// A device as umockdev-record writes one; a hub when `model` is null.
std::string deviceRecord(const std::string& sysfsPath, const std::string& node, std::uint8_t bus,
                         std::uint8_t address, const BridgeModel* model, const std::string& product,
                         const std::string& serial) {
    const auto attribute = [](const std::string& name, const std::string& value) {
        return "A: " + name + "=" + value + "\\n\n";
    };
    std::string record =
        "P: " + sysfsPath + "\nN: " + node.substr(5) + "\nE: DEVNAME=" + node +
        "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=" + node.substr(13, 3) +
        "\nE: DEVNUM=" + node.substr(17, 3) + "\n" + attribute("busnum", std::to_string(bus)) +
        attribute("devnum", std::to_string(address)) + attribute("bConfigurationValue", "1") +
        attribute("bNumConfigurations", "1");
    if (model == nullptr) {
        return record + attribute("speed", "480") + attribute("idVendor", "1d6b") +
               attribute("idProduct", "0002") + "H: descriptors=" + hex(hubDescriptors()) + "\n";
    }
    return record + attribute("speed", std::to_string(model->speedMbps)) +
           attribute("idVendor", "0403") + attribute("idProduct", hex4(model->productId)) +
           attribute("bcdDevice", hex4(model->bcdDevice)) + attribute("manufacturer", "FTDI") +
           attribute("product", product) + attribute("serial", serial) +
           "H: descriptors=" + hex(descriptorsOf(*model)) + "\n";
}

} // namespace

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {}

UsbTestbed::~UsbTestbed() {
    bridges_.clear();
    g_object_unref(testbed_);
}

// Where the device at the end of `ports` goes, with the next free address.
UsbTestbed::Node UsbTestbed::place(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::string sysfsPath = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
    for (std::size_t depth = 1; depth <= ports.size(); ++depth) {
        sysfsPath += "/" + sysfsName(bus, ports, depth);
    }
    const std::uint8_t address = nextAddress_[bus]++;
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned{bus}, unsigned{address});
    return {sysfsPath, node, address};
}

// A bridge there, or a hub when `model` is null.
void UsbTestbed::add(const Node& node, std::uint8_t bus, const std::vector<std::uint8_t>& ports,
                     const BridgeModel* model, const std::string& product) {
    GError* error = nullptr;
    const std::string record = deviceRecord(node.sysfsPath, node.devnode, bus, node.address, model,
                                            product, "ZEF" + sysfsName(bus, ports, ports.size()));
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        throw std::runtime_error(std::string("umockdev: ") + error->message);
    }
}

EmulatedBridge& UsbTestbed::plug(std::uint8_t bus, const std::vector<std::uint8_t>& ports,
                                 const std::string& product, const BridgeModel& model) {
    for (std::size_t depth = 1; depth < ports.size(); ++depth) {
        const std::vector<std::uint8_t> hub(ports.begin(),
                                            ports.begin() + static_cast<std::ptrdiff_t>(depth));
        if (hubs_.insert(sysfsName(bus, hub, depth)).second) {
            add(place(bus, hub), bus, hub, nullptr, "");
        }
    }
    // The emulation answers before the device shows: a program that scans the
    // bus meanwhile must never open a node that nothing serves.
    const Node node = place(bus, ports);
    bridges_.push_back(
        std::make_unique<EmulatedBridge>(testbed_, model, node.sysfsPath, node.devnode, product,
                                         "ZEF" + sysfsName(bus, ports, ports.size())));
    add(node, bus, ports, &model, product);
    return *bridges_.back();
}

// Kept until the test bed goes: a process may still ask the node it opened.
void UsbTestbed::remove(EmulatedBridge& bridge) {
    bridge.unplug();
}

std::vector<std::string> UsbTestbed::childEnvironment() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::vector<std::string> env{"LD_PRELOAD=libumockdev-preload.so.0",
                                 std::string("UMOCKDEV_DIR=") + root};
    g_free(root);
    return env;
}

bool underUmockdev() {
    return umockdev_in_mock_environment() != FALSE;
}

} // namespace zef::usbtest

// FTDI bridges plugged into a umockdev test bed: sysfs entries and a
// /dev/bus/usb node each (tests/usb/emulated_bridge.h), behind as many hubs
// as their port paths need, so that libusb sees the same tree a kernel would
// show. The real libusb and libftdi1 run on top, in this process and in
// child processes started with childEnvironment().
#pragma once

#include "bridge_model.h"
#include "emulated_bridge.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zef::usbtest {

class UsbTestbed {
  public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // A bridge on `bus` at the end of the port path `ports` (root port
    // first), with the next free address on that bus.
    EmulatedBridge& plug(std::uint8_t bus, const std::vector<std::uint8_t>& ports,
                         const std::string& product, const BridgeModel& model = kFt232r);
    EmulatedBridge& plug(std::uint8_t bus, std::uint8_t port, const std::string& product,
                         const BridgeModel& model = kFt232r) {
        return plug(bus, std::vector<std::uint8_t>{port}, product, model);
    }
    // Unplugs it; its node answers ENODEV from then on.
    void remove(EmulatedBridge& bridge);

    // For a child process: the preload library and this test bed's folder.
    [[nodiscard]] std::vector<std::string> childEnvironment() const;

  private:
    struct Node {
        std::string sysfsPath;
        std::string devnode;
        std::uint8_t address = 0;
    };
    Node place(std::uint8_t bus, const std::vector<std::uint8_t>& ports);
    void add(const Node& node, std::uint8_t bus, const std::vector<std::uint8_t>& ports,
             const BridgeModel* model, const std::string& product);

    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedBridge>> bridges_;
    std::set<std::string> hubs_;
    std::vector<std::uint8_t> nextAddress_ = std::vector<std::uint8_t>(256, 2);
};

// True when this process runs with umockdev's preload library, without which
// no test bed reaches libusb.
bool underUmockdev();

} // namespace zef::usbtest

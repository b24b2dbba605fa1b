// FTDI bridges plugged into a umockdev test bed: sysfs entries and a
// /dev/bus/usb node each, whose usbdevfs ioctls (control transfers,
// submitted, reaped and discarded URBs) reach an emulated FT232R. The real
// libusb and libftdi1 run on top, in this process and in child processes
// started with childEnvironment().
//
// Where the emulation falls short of a kernel, and what stands in:
//  - the node is a plain file, so poll() always reports it writable and
//    libusb reaps at once; a reap with nothing done is held back until an
//    URB completes or 1 ms passes, which keeps libusb from spinning;
//  - nor can it poll with POLLERR, which is how libusb learns of an unplug:
//    the unplug hands back every URB in flight with -ESHUTDOWN (libusb's
//    "no device") and fails every later request with ENODEV, as the kernel
//    does when reaping after a disconnect.
#pragma once

#include "ft232r_bridge.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using UMockdevTestbed = struct _UMockdevTestbed;
using UMockdevIoctlBase = struct _UMockdevIoctlBase;
using UMockdevIoctlClient = struct _UMockdevIoctlClient;
using UMockdevIoctlData = struct _UMockdevIoctlData;

namespace zef::usbtest {

class EmulatedBridge {
  public:
    EmulatedBridge(UMockdevTestbed* testbed, std::string sysfsName, std::uint8_t bus,
                   std::uint8_t address, std::string product);
    ~EmulatedBridge();
    EmulatedBridge(const EmulatedBridge&) = delete;
    EmulatedBridge& operator=(const EmulatedBridge&) = delete;

    // The cable pulled: the device leaves the test bed.
    void unplug();

    template <typename Look> auto with(Look look) {
        std::lock_guard guard(lock_);
        return look(bridge_);
    }
    [[nodiscard]] std::size_t claims() const;
    [[nodiscard]] std::size_t opens() const;

  private:
    struct Urb {
        UMockdevIoctlData* data = nullptr; // the client's usbdevfs_urb
        UMockdevIoctlData* buffer = nullptr;
        std::uint64_t dueUs = 0;
        std::size_t filled = 0;
    };
    struct Reap {
        UMockdevIoctlClient* client = nullptr;
        std::uint64_t deadlineUs = 0; // 0: waits as long as it takes
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool ioctl(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    void finish(Urb urb, int status);      // under lock_
    void answerReaps(std::uint64_t nowUs); // under lock_
    void serve();

    UMockdevTestbed* testbed_;
    std::string sysfsPath_;
    std::string node_;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    Ft232rBridge bridge_;
    std::deque<Urb> inPending_;
    std::deque<Urb> outPending_;
    std::deque<Urb> done_;
    std::vector<Reap> reaps_;
    bool plugged_ = true;
    bool stopping_ = false;
    std::size_t claims_ = 0;
    std::size_t opens_ = 0;
    std::thread server_;
};

class UsbTestbed {
  public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // A bridge at bus `bus`, root port `port`, with the next free address.
    EmulatedBridge& plug(std::uint8_t bus, std::uint8_t port, const std::string& product);
    // Unplugs it; its node answers ENODEV from then on.
    void remove(EmulatedBridge& bridge);

    // For a child process: the preload library and this test bed's folder.
    [[nodiscard]] std::vector<std::string> childEnvironment() const;

  private:
    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedBridge>> bridges_;
    std::uint8_t nextAddress_ = 2;
};

// True when this process runs with umockdev's preload library, without which
// no test bed reaches libusb.
bool underUmockdev();

} // namespace zef::usbtest

// One FTDI bridge plugged into a umockdev test bed: its /dev/bus/usb node's
// usbdevfs ioctls (control transfers, claimed interfaces, submitted, reaped
// and discarded URBs) reach an emulated chip with one channel per interface.
// The real libusb and libftdi1 run on top, in this process and in child
// processes.
//
// Where the emulation falls short of a kernel, and what stands in:
//  - the node is a plain file, so poll() always reports it writable and
//    libusb reaps at once; a reap with nothing done is held back until an
//    URB completes or 10 ms pass, which keeps libusb from spinning (a kernel
//    node would block in poll() until an URB is done);
//  - nor can it poll with POLLERR, which is how libusb learns of an unplug:
//    the unplug hands back every URB in flight with -ESHUTDOWN (libusb's
//    "no device") and fails every later request with ENODEV, as the kernel
//    does when reaping after a disconnect.
// Faults are injected per URB (urb_faults.h) where it is submitted and
// where it is served.
#pragma once

#include "bridge_channel.h"
#include "bridge_model.h"
#include "urb_faults.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using UMockdevTestbed = struct _UMockdevTestbed;
using UMockdevIoctlBase = struct _UMockdevIoctlBase;
using UMockdevIoctlClient = struct _UMockdevIoctlClient;
using UMockdevIoctlData = struct _UMockdevIoctlData;

namespace zef::usbtest {

class EmulatedBridge {
  public:
    EmulatedBridge(UMockdevTestbed* testbed, const BridgeModel& model, std::string sysfsPath,
                   std::string node, const std::string& product, const std::string& serial);
    ~EmulatedBridge();
    EmulatedBridge(const EmulatedBridge&) = delete;
    EmulatedBridge& operator=(const EmulatedBridge&) = delete;

    // The cable pulled: the device leaves the test bed.
    void unplug();

    template <typename Look> auto with(Look look) { return withChannel(0, look); }
    template <typename Look> auto withChannel(std::size_t channel, Look look) {
        std::lock_guard guard(lock_);
        return look(*channels_.at(channel));
    }
    [[nodiscard]] const BridgeModel& model() const { return model_; }
    [[nodiscard]] std::size_t claims() const;             // claim requests answered, ever
    [[nodiscard]] bool claimed(unsigned interface) const; // by an open handle, now
    [[nodiscard]] std::size_t opens() const;
    // Reap calls answered, ever: libusb reaps whenever poll() says so, and
    // the node always polls writable.
    [[nodiscard]] std::size_t reapCalls() const;
    // Changes or reads the faults it injects; the server looks again after.
    template <typename Change> auto faults(Change change) {
        struct Wake {
            std::condition_variable& wake;
            ~Wake() { wake.notify_all(); }
        } wake{wake_};
        std::lock_guard guard(lock_);
        return change(faults_);
    }

  private:
    // An URB goes back to the open file that submitted it: two channels of
    // one chip are two files, each with a libusb of its own reaping.
    struct Urb {
        UMockdevIoctlClient* client = nullptr;
        UMockdevIoctlData* data = nullptr; // the client's usbdevfs_urb
        UMockdevIoctlData* buffer = nullptr;
        std::uint64_t dueUs = 0;
        std::size_t filled = 0;
        std::size_t limit = 0; // a bulk-IN transfer cut short: its length, else 0
    };
    struct Reap {
        UMockdevIoctlClient* client = nullptr;
        std::uint64_t deadlineUs = 0; // 0: waits as long as it takes
    };
    struct Claim {
        UMockdevIoctlClient* client = nullptr;
        unsigned interface = 0;
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool ioctl(UMockdevIoctlClient* client);                              // under lock_
    void claim(UMockdevIoctlClient* client, bool release);                // under lock_
    void submit(UMockdevIoctlClient* client);                             // under lock_
    void discard(UMockdevIoctlClient* client);                            // under lock_
    void complete(Urb urb, int status);                                   // under lock_
    void answerControl(Urb urb, std::uint64_t nowUs);                     // under lock_
    void answerReaps(std::uint64_t nowUs);                                // under lock_
    std::uint64_t serveChannel(std::size_t channel, std::uint64_t nowUs); // under lock_
    void serve();

    UMockdevTestbed* testbed_;
    const BridgeModel& model_;
    std::string sysfsPath_;
    std::string node_;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<BridgeChannel>> channels_;
    std::vector<std::deque<Urb>> inPending_;  // per channel
    std::vector<std::deque<Urb>> outPending_; // per channel
    std::deque<Urb> held_;                    // control requests a silent bridge has not answered
    std::deque<Urb> done_;
    std::vector<Reap> reaps_;
    std::vector<Claim> claimed_;
    bool plugged_ = true;
    bool stopping_ = false;
    std::size_t claims_ = 0;
    std::size_t opens_ = 0;
    std::size_t reapCalls_ = 0;
    UrbFaults faults_;
    std::thread server_;
};

} // namespace zef::usbtest

#include "usb_testbed.h"

#include "platform/platform.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

constexpr std::uint64_t kHeldReapUs = 1000;
constexpr std::uint64_t kServeSliceUs = 1000;

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

// A device as umockdev-record writes one.
std::string deviceRecord(const std::string& sysfsPath, const std::string& node, std::uint8_t bus,
                         std::uint8_t address, const std::string& product,
                         const std::string& serial) {
    const auto attribute = [](const std::string& name, const std::string& value) {
        return "A: " + name + "=" + value + "\\n\n";
    };
    return "P: " + sysfsPath + "\nN: " + node.substr(5) + "\nE: DEVNAME=" + node +
           "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=" + node.substr(13, 3) +
           "\nE: DEVNUM=" + node.substr(17, 3) + "\n" + attribute("busnum", std::to_string(bus)) +
           attribute("devnum", std::to_string(address)) + attribute("speed", "12") +
           attribute("idVendor", "0403") + attribute("idProduct", "6001") +
           attribute("bcdDevice", "0600") + attribute("manufacturer", "FTDI") +
           attribute("product", product) + attribute("serial", serial) +
           attribute("bConfigurationValue", "1") + attribute("bNumConfigurations", "1") +
           "H: descriptors=" + hex(ft232rDescriptors()) + "\n";
}

UMockdevIoctlData* resolved(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return umockdev_ioctl_data_resolve(data, offset, length, nullptr);
}

} // namespace

EmulatedBridge::EmulatedBridge(UMockdevTestbed* testbed, std::string sysfsName, std::uint8_t bus,
                               std::uint8_t address, std::string product)
    : testbed_(testbed),
      bridge_(std::move(product), "ZEF" + sysfsName, platform::nowMicroseconds()) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned{bus}, unsigned{address});
    node_ = node;
    sysfsPath_ = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus) + "/" + sysfsName;
    GError* error = nullptr;
    const std::string record =
        deviceRecord(sysfsPath_, node_, bus, address, bridge_.product(), bridge_.serial());
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        throw std::runtime_error(std::string("umockdev: ") + error->message);
    }
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedBridge::onIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&EmulatedBridge::onConnected), this);
    if (!umockdev_testbed_attach_ioctl(testbed_, node_.c_str(), handler_, &error)) {
        throw std::runtime_error(std::string("umockdev: ") + error->message);
    }
    server_ = std::thread(&EmulatedBridge::serve, this);
}

EmulatedBridge::~EmulatedBridge() {
    unplug();
    g_signal_handlers_disconnect_by_data(handler_, this);
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    server_.join();
    umockdev_testbed_detach_ioctl(testbed_, node_.c_str(), nullptr);
    g_object_unref(handler_);
}

void EmulatedBridge::unplug() {
    {
        std::lock_guard guard(lock_);
        if (!plugged_) {
            return;
        }
        plugged_ = false;
        // The kernel gives back what was in flight, then refuses everything.
        for (std::deque<Urb>* queue : {&inPending_, &outPending_}) {
            while (!queue->empty()) {
                finish(queue->front(), -ESHUTDOWN);
                queue->pop_front();
            }
        }
        answerReaps(platform::nowMicroseconds());
    }
    umockdev_testbed_remove_device(testbed_, ("/sys" + sysfsPath_).c_str());
}

std::size_t EmulatedBridge::claims() const {
    std::lock_guard guard(lock_);
    return claims_;
}

std::size_t EmulatedBridge::opens() const {
    std::lock_guard guard(lock_);
    return opens_;
}

void EmulatedBridge::onConnected(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* /*client*/,
                                 void* self) {
    auto* bridge = static_cast<EmulatedBridge*>(self);
    std::lock_guard guard(bridge->lock_);
    ++bridge->opens_;
}

int EmulatedBridge::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                            void* self) {
    return static_cast<EmulatedBridge*>(self)->ioctl(client) ? TRUE : FALSE;
}

bool EmulatedBridge::ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock lock(lock_);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        const std::uint64_t now = platform::nowMicroseconds();
        reaps_.push_back({static_cast<UMockdevIoctlClient*>(g_object_ref(client)),
                          request == USBDEVFS_REAPURBNDELAY ? now + kHeldReapUs : 0});
        answerReaps(now);
        wake_.notify_all();
        return true;
    }
    if (!plugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = resolved(arg, 0, sizeof(std::uint32_t));
        const std::uint32_t value =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(caps->data, &value, sizeof value);
        g_object_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
        ++claims_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL: // no kernel driver to let go of
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
    case USBDEVFS_SUBMITURB:
        submit(client);
        wake_.notify_all();
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return true;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return true;
    }
}

void EmulatedBridge::submit(UMockdevIoctlClient* client) {
    Urb urb;
    urb.data = resolved(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    auto* fields = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    const auto length = static_cast<std::size_t>(std::max(fields->buffer_length, 0));
    urb.buffer = resolved(urb.data, offsetof(usbdevfs_urb, buffer), length);
    fields = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    const std::uint64_t now = platform::nowMicroseconds();
    umockdev_ioctl_client_complete(client, 0, 0);
    if (fields->type == USBDEVFS_URB_TYPE_CONTROL && length >= 8) {
        const std::uint8_t* setup = urb.buffer->data;
        ControlSetup request{setup[0], setup[1],
                             static_cast<std::uint16_t>(setup[2] | setup[3] << 8U),
                             static_cast<std::uint16_t>(setup[4] | setup[5] << 8U),
                             static_cast<std::uint16_t>(setup[6] | setup[7] << 8U)};
        request.length =
            static_cast<std::uint16_t>(std::min<std::size_t>(request.length, length - 8));
        const int answered = bridge_.control(request, urb.buffer->data + 8, now);
        fields->actual_length =
            answered < 0 ? 0 : ((request.requestType & 0x80U) != 0 ? answered : request.length);
        finish(urb, answered < 0 ? -EPIPE : 0);
    } else if ((fields->endpoint & 0x80U) == 0) {
        urb.dueUs = bridge_.bulkOut(urb.buffer->data, length, now);
        fields->actual_length = static_cast<int>(length);
        outPending_.push_back(urb);
    } else {
        inPending_.push_back(urb);
    }
}

void EmulatedBridge::discard(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data,
                std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
    for (std::deque<Urb>* queue : {&inPending_, &outPending_}) {
        for (auto it = queue->begin(); it != queue->end(); ++it) {
            if (it->data->client_addr == address) {
                const Urb urb = *it;
                queue->erase(it);
                finish(urb, -ENOENT);
                umockdev_ioctl_client_complete(client, 0, 0);
                answerReaps(platform::nowMicroseconds());
                return;
            }
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void EmulatedBridge::finish(Urb urb, int status) {
    auto* fields = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    fields->status = status;
    if (fields->type == USBDEVFS_URB_TYPE_BULK && (fields->endpoint & 0x80U) != 0) {
        fields->actual_length = static_cast<int>(urb.filled);
    }
    done_.push_back(urb);
}

void EmulatedBridge::answerReaps(std::uint64_t nowUs) {
    for (auto it = reaps_.begin(); it != reaps_.end();) {
        UMockdevIoctlClient* client = it->client;
        if (!done_.empty()) {
            const Urb urb = done_.front();
            done_.pop_front();
            UMockdevIoctlData* slot =
                resolved(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
            umockdev_ioctl_data_set_ptr(slot, 0, urb.data);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(slot);
            g_object_unref(urb.buffer);
            g_object_unref(urb.data);
        } else if (!plugged_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        } else if (it->deadlineUs != 0 && nowUs >= it->deadlineUs) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
        } else {
            ++it;
            continue;
        }
        g_object_unref(client);
        it = reaps_.erase(it);
    }
}

void EmulatedBridge::serve() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        const std::uint64_t now = platform::nowMicroseconds();
        if (plugged_) {
            while (!outPending_.empty() && outPending_.front().dueUs <= now) {
                finish(outPending_.front(), 0);
                outPending_.pop_front();
            }
            bridge_.hostAsking(!inPending_.empty(), now);
            while (!inPending_.empty()) {
                Urb& urb = inPending_.front();
                const auto* fields = reinterpret_cast<const usbdevfs_urb*>(urb.data->data);
                if (!bridge_.fillIn(urb.buffer->data,
                                    static_cast<std::size_t>(fields->buffer_length), urb.filled,
                                    now)) {
                    break;
                }
                finish(urb, 0);
                inPending_.pop_front();
            }
        }
        answerReaps(now);
        std::uint64_t next = now + kServeSliceUs;
        if (!outPending_.empty()) {
            next = std::min(next, outPending_.front().dueUs);
        }
        for (const Reap& reap : reaps_) {
            if (reap.deadlineUs != 0) {
                next = std::min(next, reap.deadlineUs);
            }
        }
        wake_.wait_for(lock, std::chrono::microseconds(next > now ? next - now : 50));
    }
    for (const Reap& reap : reaps_) {
        umockdev_ioctl_client_complete(reap.client, -1, ENODEV);
        g_object_unref(reap.client);
    }
    reaps_.clear();
    for (const Urb& urb : done_) {
        g_object_unref(urb.buffer);
        g_object_unref(urb.data);
    }
    done_.clear();
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {}

UsbTestbed::~UsbTestbed() {
    bridges_.clear();
    g_object_unref(testbed_);
}

EmulatedBridge& UsbTestbed::plug(std::uint8_t bus, std::uint8_t port, const std::string& product) {
    const std::string name = std::to_string(bus) + "-" + std::to_string(port);
    bridges_.push_back(
        std::make_unique<EmulatedBridge>(testbed_, name, bus, nextAddress_++, product));
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

#include "emulated_bridge.h"

#include "platform/platform.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace zef::usbtest {

namespace {

constexpr std::uint64_t kHeldReapUs = 10000;
constexpr std::uint64_t kServeSliceUs = 1000;

UMockdevIoctlData* resolved(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return umockdev_ioctl_data_resolve(data, offset, length, nullptr);
}

usbdevfs_urb* fieldsOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

} // namespace

EmulatedBridge::EmulatedBridge(UMockdevTestbed* testbed, const BridgeModel& model,
                               std::string sysfsPath, std::string node, const std::string& product,
                               const std::string& serial)
    : testbed_(testbed), model_(model), sysfsPath_(std::move(sysfsPath)), node_(std::move(node)),
      inPending_(model.channels), outPending_(model.channels) {
    const std::uint64_t now = platform::nowMicroseconds();
    for (std::size_t i = 0; i < model.channels; ++i) {
        channels_.push_back(std::make_unique<BridgeChannel>(model, product, serial, now));
    }
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedBridge::onIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&EmulatedBridge::onConnected), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&EmulatedBridge::onVanished), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node_.c_str(), handler_, &error)) {
        throw std::runtime_error(std::string("umockdev: ") + error->message);
    }
    server_ = std::thread(&EmulatedBridge::serve, this);
    pthread_setname_np(server_.native_handle(), "usb-emulator");
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
        for (auto* queues : {&inPending_, &outPending_}) {
            for (std::deque<Urb>& queue : *queues) {
                while (!queue.empty()) {
                    complete(queue.front(), -ESHUTDOWN);
                    queue.pop_front();
                }
            }
        }
        for (; !held_.empty(); held_.pop_front()) {
            complete(held_.front(), -ESHUTDOWN);
        }
        answerReaps(platform::nowMicroseconds());
    }
    umockdev_testbed_remove_device(testbed_, ("/sys" + sysfsPath_).c_str());
}

int EmulatedBridge::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                            void* self) {
    auto* bridge = static_cast<EmulatedBridge*>(self);
    std::lock_guard guard(bridge->lock_);
    return bridge->ioctl(client) ? TRUE : FALSE;
}

bool EmulatedBridge::ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        ++reapCalls_;
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
    case USBDEVFS_RELEASEINTERFACE:
        claim(client, request == USBDEVFS_RELEASEINTERFACE);
        return true;
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
    urb.client = client;
    urb.data = resolved(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    const usbdevfs_urb* fields = fieldsOf(urb.data);
    const bool in = (fields->endpoint & 0x80U) != 0;
    const bool control = fields->type == USBDEVFS_URB_TYPE_CONTROL;
    const UrbFault fault = faults_.next(control ? UrbKind::Control
                                        : in    ? UrbKind::BulkIn
                                                : UrbKind::BulkOut);
    if (fault.submitErrno != 0) {
        g_object_unref(urb.data);
        umockdev_ioctl_client_complete(client, -1, fault.submitErrno);
        return;
    }
    const auto length = static_cast<std::size_t>(std::max(fields->buffer_length, 0));
    urb.buffer = resolved(urb.data, offsetof(usbdevfs_urb, buffer), length);
    usbdevfs_urb* urbFields = fieldsOf(urb.data);
    const std::uint64_t now = platform::nowMicroseconds();
    umockdev_ioctl_client_complete(client, 0, 0);
    const std::size_t channel = channelOfEndpoint(urbFields->endpoint);
    if (fault.status != 0 || fault.zeroLength) {
        complete(urb, fault.status); // nothing crossed the wire
    } else if (control) {
        if (faults_.silent()) {
            held_.push_back(urb);
        } else {
            answerControl(urb, now);
        }
    } else if (channel >= model_.channels) {
        complete(urb, -EINVAL);
    } else if (!in) {
        urb.dueUs = channels_[channel]->bulkOut(urb.buffer->data, length, now);
        urbFields->actual_length = static_cast<int>(length);
        outPending_[channel].push_back(urb);
    } else {
        urb.limit = fault.shortIn ? model_.bus->packetBytes : 0;
        inPending_[channel].push_back(urb);
    }
}

void EmulatedBridge::answerControl(Urb urb, std::uint64_t nowUs) {
    usbdevfs_urb* fields = fieldsOf(urb.data);
    const auto length = static_cast<std::size_t>(std::max(fields->buffer_length, 0));
    if (length < 8) {
        complete(urb, -EPIPE);
        return;
    }
    const std::uint8_t* setup = urb.buffer->data;
    ControlSetup request{setup[0], setup[1], static_cast<std::uint16_t>(setup[2] | setup[3] << 8U),
                         static_cast<std::uint16_t>(setup[4] | setup[5] << 8U),
                         static_cast<std::uint16_t>(setup[6] | setup[7] << 8U)};
    request.length = static_cast<std::uint16_t>(std::min<std::size_t>(request.length, length - 8));
    // Vendor requests name their channel in the index's low byte: 1 for A.
    const std::size_t port = request.index & 0xFFU;
    BridgeChannel& channel = *channels_[std::clamp<std::size_t>(port, 1, model_.channels) - 1];
    const int answered = channel.control(request, urb.buffer->data + 8, nowUs);
    fields->actual_length =
        answered < 0 ? 0 : ((request.requestType & 0x80U) != 0 ? answered : request.length);
    complete(urb, answered < 0 ? -EPIPE : 0);
}

void EmulatedBridge::discard(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data,
                std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
    const auto take = [&](std::deque<Urb>& queue) {
        const auto it = std::find_if(queue.begin(), queue.end(), [&](const Urb& urb) {
            return urb.client == client && urb.data->client_addr == address;
        });
        if (it == queue.end()) {
            return false;
        }
        const Urb urb = *it;
        queue.erase(it);
        complete(urb, -ENOENT);
        umockdev_ioctl_client_complete(client, 0, 0);
        answerReaps(platform::nowMicroseconds());
        return true;
    };
    for (auto* queues : {&inPending_, &outPending_}) {
        for (std::deque<Urb>& queue : *queues) {
            if (take(queue)) {
                return;
            }
        }
    }
    if (!take(held_)) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }
}

void EmulatedBridge::complete(Urb urb, int status) {
    usbdevfs_urb* fields = fieldsOf(urb.data);
    fields->status = status;
    if (fields->type == USBDEVFS_URB_TYPE_BULK && (fields->endpoint & 0x80U) != 0) {
        fields->actual_length = static_cast<int>(urb.filled);
    }
    done_.push_back(urb);
}

void EmulatedBridge::answerReaps(std::uint64_t nowUs) {
    for (auto it = reaps_.begin(); it != reaps_.end();) {
        UMockdevIoctlClient* client = it->client;
        const auto mine = std::find_if(done_.begin(), done_.end(),
                                       [client](const Urb& u) { return u.client == client; });
        if (mine != done_.end()) {
            const Urb urb = *mine;
            done_.erase(mine);
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

// Returns when this channel next needs serving.
std::uint64_t EmulatedBridge::serveChannel(std::size_t channel, std::uint64_t nowUs) {
    BridgeChannel& bridge = *channels_[channel];
    std::deque<Urb>& out = outPending_[channel];
    std::deque<Urb>& in = inPending_[channel];
    while (!out.empty() && out.front().dueUs <= nowUs) {
        complete(out.front(), 0);
        out.pop_front();
    }
    bridge.hostAsking(!in.empty(), nowUs);
    if (in.empty()) {
        bridge.idle(nowUs);
    }
    while (!in.empty()) {
        Urb& urb = in.front();
        const auto capacity = static_cast<std::size_t>(fieldsOf(urb.data)->buffer_length);
        if (!bridge.fillIn(urb.buffer->data,
                           urb.limit != 0 ? std::min(urb.limit, capacity) : capacity, urb.filled,
                           nowUs)) {
            break;
        }
        complete(urb, 0);
        in.pop_front();
    }
    return out.empty() ? nowUs + kServeSliceUs : std::min(nowUs + kServeSliceUs, out.front().dueUs);
}

void EmulatedBridge::serve() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        const std::uint64_t now = platform::nowMicroseconds();
        std::uint64_t next = now + kServeSliceUs;
        if (plugged_ && !faults_.silent()) {
            for (; !held_.empty(); held_.pop_front()) {
                answerControl(held_.front(), now);
            }
            for (std::size_t channel = 0; channel < channels_.size(); ++channel) {
                next = std::min(next, serveChannel(channel, now));
            }
        }
        answerReaps(now);
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

} // namespace zef::usbtest

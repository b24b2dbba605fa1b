// What each open file of an emulated bridge holds: the interfaces it claimed
// and, when it closes, what the kernel lets go of.
#include "emulated_bridge.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zef::usbtest {

std::size_t EmulatedBridge::claims() const {
    std::lock_guard guard(lock_);
    return claims_;
}

bool EmulatedBridge::claimed(unsigned interface) const {
    std::lock_guard guard(lock_);
    return std::any_of(claimed_.begin(), claimed_.end(),
                       [interface](const Claim& c) { return c.interface == interface; });
}

std::size_t EmulatedBridge::opens() const {
    std::lock_guard guard(lock_);
    return opens_;
}

std::size_t EmulatedBridge::reapCalls() const {
    std::lock_guard guard(lock_);
    return reapCalls_;
}

void EmulatedBridge::onConnected(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* /*client*/,
                                 void* self) {
    auto* bridge = static_cast<EmulatedBridge*>(self);
    std::lock_guard guard(bridge->lock_);
    ++bridge->opens_;
}

// The file closed: the kernel releases what it had claimed and forgets its URBs.
void EmulatedBridge::onVanished(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                                void* self) {
    auto* bridge = static_cast<EmulatedBridge*>(self);
    std::lock_guard guard(bridge->lock_);
    std::erase_if(bridge->claimed_, [client](const Claim& c) { return c.client == client; });
    const auto drop = [client](std::deque<Urb>& queue) {
        std::erase_if(queue, [client](const Urb& urb) {
            if (urb.client != client) {
                return false;
            }
            g_object_unref(urb.buffer);
            g_object_unref(urb.data);
            return true;
        });
    };
    for (auto* queues : {&bridge->inPending_, &bridge->outPending_}) {
        for (std::deque<Urb>& queue : *queues) {
            drop(queue);
        }
    }
    drop(bridge->held_);
    drop(bridge->done_);
}

// An interface one open file holds is busy for every other.
void EmulatedBridge::claim(UMockdevIoctlClient* client, bool release) {
    UMockdevIoctlData* number = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                            0, sizeof(unsigned), nullptr);
    unsigned interface = 0;
    std::memcpy(&interface, number->data, sizeof interface);
    g_object_unref(number);
    if (interface >= model_.channels) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    const auto mine = [&](const Claim& c) { return c.interface == interface; };
    const auto held = std::find_if(claimed_.begin(), claimed_.end(), mine);
    if (release) {
        if (held != claimed_.end() && held->client == client) {
            claimed_.erase(held);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    ++claims_;
    if (held != claimed_.end() && held->client != client) {
        umockdev_ioctl_client_complete(client, -1, EBUSY);
        return;
    }
    if (held == claimed_.end()) {
        claimed_.push_back({client, interface});
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

} // namespace zef::usbtest

#include "device_session.h"

#include "driver_lock.h"
#include "plugin/device_state.h"

#include <atomic>

namespace zef {

namespace {

constexpr std::uint8_t kStateReady = 2;
constexpr std::uint8_t kStateAcknowledged = 3;

// Written under the driver lock; read without it only as a hint.
std::atomic<LinkSession> openLink{kNoLink};
LinkSession lastLink = kNoLink; // under the driver lock
// The session whose load the worker runs; kNoLink between loads.
std::atomic<LinkSession> loadingLink{kNoLink};

LinkSession nextLink() {
    openLink.store(++lastLink);
    return lastLink;
}

} // namespace

LinkSession currentLink() {
    return openLink.load();
}

bool portOpen() {
    return currentLink() != kNoLink;
}

LinkSession beginDeviceSession() {
    deviceState.deviceReady.store(false);
    const LinkSession link = nextLink();
    deviceState.configNeeded.store(true);
    return link;
}

LinkSession beginAdoptedSession() {
    return nextLink();
}

bool endDeviceSession() {
    return openLink.exchange(kNoLink) != kNoLink;
}

bool loadPending() {
    return deviceState.configNeeded.load();
}

LinkSession takeLoadRequest() {
    if (!deviceState.configNeeded.exchange(false)) {
        return kNoLink;
    }
    const LinkSession link = currentLink();
    loadingLink.store(link);
    return link;
}

void loadEnded(LinkSession link) {
    LinkSession loading = link;
    loadingLink.compare_exchange_strong(loading, kNoLink);
}

bool loadUnderWay() {
    const LinkSession loading = loadingLink.load();
    return loadPending() || (loading != kNoLink && loading == currentLink());
}

// The check and the store share a hold of the driver lock, in which a reopen
// also lowers the flag and begins its session: a status from the closed
// device can never land after that.
void reportDeviceState(LinkSession link, std::uint8_t stateCode) {
    std::atomic<bool>* flag = stateCode == kStateReady          ? &deviceState.deviceReady
                              : stateCode == kStateAcknowledged ? &deviceState.settingsAcked
                                                                : nullptr;
    if (flag == nullptr) {
        return;
    }
    if (link == kNoLink) {
        flag->store(true);
        return;
    }
    platform::LockGuard guard(driverLock());
    if (link == currentLink()) {
        flag->store(true);
    }
}

void expectAcknowledgement() {
    deviceState.settingsAcked.store(false);
}

} // namespace zef

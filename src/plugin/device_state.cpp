#include "device_state.h"

namespace zef {

DeviceState deviceState;

platform::Event& rxEvent() {
    platform::Event* event = deviceState.rxEvent.load(std::memory_order_acquire);
    if (event != nullptr) {
        return *event;
    }
    auto* created = new platform::Event;
    if (deviceState.rxEvent.compare_exchange_strong(event, created, std::memory_order_acq_rel)) {
        return *created;
    }
    delete created;
    return *event;
}

} // namespace zef

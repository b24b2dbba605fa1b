#include "sim_state.h"

#include "sim/wire.h"

#include <algorithm>
#include <cstdint>

namespace zef::sim {

namespace {

// The driver's own thread: keeps the receive side moving between calls, as
// the USB side of a real driver does, and wakes the registered events. Its
// pace costs nothing in accuracy: the bridge and the transfers follow the
// clock, so a late wake only delivers later what was due.
class Producer final : public platform::Thread {
  protected:
    void runLoop() override {
        while (!terminateRequested()) {
            {
                SimState& state = simState();
                platform::LockGuard guard(state.lock);
                const std::uint64_t now = platform::nowMicroseconds();
                for (const auto& port : state.ports) {
                    pump(state.env, *port, now);
                    signalEvents(state.env, *port);
                }
            }
            platform::sleepMs(1);
        }
    }
};

// Never destroyed: the thread may outlive static destruction, and a Windows
// DLL must not join threads while it unloads.
struct ProducerControl {
    platform::Mutex lock; // taken before the state's lock, never inside it
    Producer thread;
};

ProducerControl& producerControl() {
    static auto* control = new ProducerControl;
    return *control;
}

} // namespace

SimState& simState() {
    static auto* state = new SimState; // outlives every thread that may still call
    return *state;
}

Port* findPort(SimState& state, d2xx::FT_HANDLE handle) {
    const auto token = reinterpret_cast<std::uintptr_t>(handle);
    for (const auto& port : state.ports) {
        if (port->token == token) {
            return port.get();
        }
    }
    if (token >= SimState::kFirstToken && token < state.nextToken) {
        ++state.env.counters.closed_handle_calls;
    }
    return nullptr;
}

DeviceSlot* listedDevice(SimState& state, std::size_t index) {
    for (const auto& device : state.devices) {
        if (device->plugged && index-- == 0) {
            return device.get();
        }
    }
    return nullptr;
}

std::uint32_t listedCount(SimState& state) {
    return static_cast<std::uint32_t>(std::count_if(state.devices.begin(), state.devices.end(),
                                                    [](const auto& d) { return d->plugged; }));
}

Port& openPort(SimState& state, DeviceSlot& device, std::uint64_t nowUs) {
    auto port = std::make_unique<Port>();
    port->token = state.nextToken++;
    port->device = &device;
    restartReceive(*port, nowUs);
    device.port = port.get();
    device.instrument.attach(nowUs);
    state.ports.push_back(std::move(port));
    return *state.ports.back();
}

void closePort(SimState& state, Port& port) {
    if (port.device != nullptr) {
        port.device->port = nullptr;
    }
    std::erase_if(state.ports, [&port](const auto& p) { return p.get() == &port; });
}

void pullCable(DeviceSlot& device) {
    device.plugged = false;
    if (device.port != nullptr) {
        device.port->device = nullptr;
        device.port->rx.clear();
        device.port = nullptr;
    }
    device.instrument.powerCycle();
}

void ensureProducer() {
    ProducerControl& control = producerControl();
    platform::LockGuard guard(control.lock);
    if (!control.thread.started()) {
        control.thread.start();
    }
}

void stopProducer() {
    ProducerControl& control = producerControl();
    platform::LockGuard guard(control.lock);
    control.thread.stop();
}

} // namespace zef::sim

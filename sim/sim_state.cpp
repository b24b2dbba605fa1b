#include "sim_state.h"

#include "sim/event_signal.h"
#include "sim/wire.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zef::sim {

namespace {

// How long a signal waits for a host that holds its event's mutex, and how
// long the producer sleeps at most when nothing is due (a safety net: every
// change that matters wakes it).
constexpr std::uint32_t kSignalPatienceMs = 5;
constexpr std::uint64_t kMinSleepUs = 100;
constexpr std::uint64_t kMaxSleepUs = 1000000;

struct OwedSignal {
    std::uint64_t token = 0;
    void* event = nullptr;
    std::size_t count = 0;
};

bool stillRegistered(SimState& state, const OwedSignal& owed) {
    platform::LockGuard guard(state.lock);
    const Port* port = portOf(state, owed.token);
    return port != nullptr && port->event == owed.event &&
           (port->eventMask & d2xx::FT_EVENT_RXCHAR) != 0;
}

// The driver's own thread: keeps the receive side moving between calls, as
// the USB side of a real driver does, and signals the registered events, one
// signal for each transfer that brought bytes. It sleeps until something is
// due; the bridge and the transfers follow the clock, so a late wake only
// delivers later what was due.
class Producer final : public platform::Thread {
  protected:
    void runLoop() override {
        std::vector<OwedSignal> owed;
        while (!terminateRequested()) {
            collect(owed);
            deliver(owed);
        }
    }

  private:
    // Pumps every port until some signal is owed, sleeping while none is due.
    void collect(std::vector<OwedSignal>& owed) {
        SimState& state = simState();
        platform::LockGuard guard(state.lock);
        owed.clear();
        while (!terminateRequested()) {
            const std::uint64_t now = platform::nowMicroseconds();
            std::uint64_t wake = UINT64_MAX;
            for (const auto& port : state.ports) {
                pump(state, *port, now);
                if (nudge(state.env, *port, now)) {
                    port->unsignalled = std::max<std::size_t>(port->unsignalled, 1);
                }
                if (port->unsignalled > 0 && port->event != nullptr &&
                    (port->eventMask & d2xx::FT_EVENT_RXCHAR) != 0) {
                    owed.push_back({port->token, port->event, port->unsignalled});
                }
                port->unsignalled = 0;
                wake = std::min(wake, quietUntilUs(state.env, *port, now));
            }
            if (!owed.empty()) {
                return;
            }
            const std::uint64_t sleep = wake > now ? wake - now : 0;
            state.changed.waitFor(state.lock, std::clamp(sleep, kMinSleepUs, kMaxSleepUs));
        }
    }

    // Outside the simulator's lock, so that a host holding its event's mutex
    // across a driver call never waits for us, nor we for it for long.
    void deliver(const std::vector<OwedSignal>& owed) {
        SimState& state = simState();
        std::uint64_t sent = 0;
        std::uint64_t refused = 0;
        state.eventLock.lock();
        for (const OwedSignal& signal : owed) {
            for (std::size_t i = 0; i < signal.count && !terminateRequested();) {
                if (!stillRegistered(state, signal)) {
                    break;
                }
                const EventSignal result = signalDriverEvent(signal.event, kSignalPatienceMs);
                if (result == EventSignal::Busy) {
                    // Let a withdrawal of the event through before trying again.
                    state.eventLock.unlock();
                    {
                        platform::LockGuard guard(state.lock);
                        state.changed.waitFor(state.lock, std::uint64_t{kSignalPatienceMs} * 1000U);
                    }
                    state.eventLock.lock();
                    continue;
                }
                ++(result == EventSignal::Sent ? sent : refused);
                ++i;
            }
        }
        state.eventLock.unlock();
        if (sent + refused > 0) {
            platform::LockGuard guard(state.lock);
            state.env.counters.events_signalled += sent;
            state.env.counters.event_signal_failures += refused;
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

Port* portOf(SimState& state, std::uint64_t token) {
    for (const auto& port : state.ports) {
        if (port->token == token) {
            return port.get();
        }
    }
    return nullptr;
}

Port* findPort(SimState& state, d2xx::FT_HANDLE handle) {
    const auto token = reinterpret_cast<std::uintptr_t>(handle);
    Port* port = portOf(state, token);
    if (port == nullptr && token >= SimState::kFirstToken && token < state.nextToken) {
        ++state.env.counters.closed_handle_calls;
    }
    return port;
}

void fenceEvents(SimState& state) {
    platform::LockGuard fence(state.eventLock);
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
    state.changed.notifyAll();
}

void pullCable(SimState& state, DeviceSlot& device) {
    device.plugged = false;
    if (device.port != nullptr) {
        device.port->device = nullptr;
        device.port->rx.clear();
        device.port = nullptr;
    }
    device.instrument.powerCycle();
    state.changed.notifyAll();
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
    control.thread.requestTerminate();
    {
        SimState& state = simState();
        platform::LockGuard wake(state.lock);
        state.changed.notifyAll();
    }
    control.thread.stop();
}

} // namespace zef::sim

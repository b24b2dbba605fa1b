// The zefsim_ control interface, exported by both flavours.
#include "sim/device_frames.h"
#include "sim/sim_state.h"
#include "sim/starting_state.h"
#include "sim/wire.h"
#include "sim/zef_sim.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

using zef::sim::DeviceSlot;
using zef::sim::SimState;
using zef::sim::simState;

namespace {

DeviceSlot* deviceAt(SimState& state, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= state.devices.size()) {
        return nullptr;
    }
    return state.devices[static_cast<std::size_t>(index)].get();
}

std::uint32_t toCount(double value) {
    return value <= 0.0 ? 0 : static_cast<std::uint32_t>(std::min(value, 4294967295.0));
}

double toRate(double value) {
    return std::clamp(value, 0.0, 1.0);
}

std::size_t copyOut(std::span<const std::uint8_t> bytes, std::uint8_t* out, std::size_t capacity) {
    if (out != nullptr) {
        std::memcpy(out, bytes.data(), std::min(capacity, bytes.size()));
    }
    return bytes.size();
}

} // namespace

extern "C" {

ZEFSIM_API void ZEFSIM_CALL zefsim_reset(void) {
    zef::sim::controlTookOver();
    zef::sim::stopProducer();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.ports.clear();
    state.devices.clear();
    state.env = zef::sim::Environment{};
    state.log.clear();
}

ZEFSIM_API int ZEFSIM_CALL zefsim_add_device(const char* description, uint32_t location, int held,
                                             int cts) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    auto device = std::make_unique<DeviceSlot>();
    device->description = description != nullptr ? description : "";
    device->description.resize(
        std::min<std::size_t>(device->description.size(), zef::d2xx::kDescriptionSize - 1));
    device->location = location;
    device->held = held != 0;
    device->cts = cts != 0;
    state.devices.push_back(std::move(device));
    return static_cast<int>(state.devices.size() - 1);
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_timing(int timing) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.timing = timing == ZEFSIM_REALTIME ? ZEFSIM_REALTIME : ZEFSIM_FAST;
    const std::uint64_t now = zef::platform::nowMicroseconds();
    for (const auto& port : state.ports) {
        zef::sim::restartReceive(*port, now);
        if (!port->dead()) {
            port->device->instrument.restartClock(now);
        }
    }
    state.changed.notifyAll();
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_signal(int signal, double carrier_hz, double amplitude) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.signal = {signal == ZEFSIM_SIGNAL ? ZEFSIM_SIGNAL : ZEFSIM_TEST_PATTERN, carrier_hz,
                        amplitude};
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_model(uint16_t model) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.model = model;
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_calibration(const uint8_t block_a[64],
                                                   const uint8_t block_b[64]) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    if (block_a != nullptr) {
        std::memcpy(state.env.calibrationA.data(), block_a, 64);
    }
    if (block_b != nullptr) {
        std::memcpy(state.env.calibrationB.data(), block_b, 64);
    }
}

ZEFSIM_API void ZEFSIM_CALL zefsim_seal_block(uint8_t block[64]) {
    if (block != nullptr) {
        zef::sim::sealBlock(std::span<std::uint8_t, 64>(block, 64));
    }
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_fault(int fault, double value) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    zef::sim::Faults& faults = state.env.faults;
    switch (fault) {
    case ZEFSIM_CORRUPT_RATE:
        faults.corruptRate = toRate(value);
        break;
    case ZEFSIM_DROP_RATE:
        faults.dropRate = toRate(value);
        break;
    case ZEFSIM_WRITE_LIMIT:
        faults.writeLimit = toCount(value);
        break;
    case ZEFSIM_FAIL_WRITES:
        faults.failWrites = toCount(value);
        break;
    case ZEFSIM_NEVER_READY:
        faults.neverReady = value != 0.0;
        break;
    case ZEFSIM_NEVER_ACK:
        faults.neverAck = value != 0.0;
        break;
    case ZEFSIM_ZERO_WRITES:
        faults.zeroWrites = toCount(value);
        break;
    default:
        break;
    }
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_gateware_startup_ms(uint32_t ms) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.gatewareStartupMs = ms;
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_transfer_size(uint32_t bytes) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.transferBytes = zef::sim::validTransferBytes(bytes);
}

ZEFSIM_API void ZEFSIM_CALL zefsim_set_receive_capacity(uint32_t bytes) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    state.env.receiveCapacity = zef::sim::validReceiveCapacity(bytes);
}

ZEFSIM_API void ZEFSIM_CALL zefsim_unplug(int index) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    if (DeviceSlot* device = deviceAt(state, index)) {
        zef::sim::pullCable(state, *device);
    }
}

ZEFSIM_API void ZEFSIM_CALL zefsim_replug(int index) {
    zef::sim::controlTookOver();
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    DeviceSlot* device = deviceAt(state, index);
    if (device != nullptr && !device->plugged) {
        device->instrument.powerCycle();
        device->plugged = true;
    }
}

ZEFSIM_API void ZEFSIM_CALL zefsim_get_counters(struct zefsim_counters* out) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    if (out != nullptr) {
        *out = state.env.counters;
    }
}

ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_last_settings(uint8_t out[65]) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    const std::uint64_t received = state.env.counters.settings_received;
    if (received > 0 && out != nullptr) {
        std::memcpy(out, state.env.lastSettings.data(), state.env.lastSettings.size());
    }
    return received;
}

ZEFSIM_API size_t ZEFSIM_CALL zefsim_config_image(uint8_t* out, size_t capacity) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    return copyOut(state.env.configImage, out, capacity);
}

ZEFSIM_API size_t ZEFSIM_CALL zefsim_call_log(char* out, size_t capacity) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    const std::string& text = state.log.text();
    if (out != nullptr && capacity > 0) {
        const std::size_t n = std::min(capacity - 1, text.size());
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    }
    return text.size();
}

ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_last_settings_time_us(void) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    return state.env.lastSettingsTimeUs;
}

ZEFSIM_API uint64_t ZEFSIM_CALL zefsim_frame_time_us(uint64_t n) {
    SimState& state = simState();
    zef::platform::LockGuard guard(state.lock);
    return state.env.frameTimes.find(n);
}

} // extern "C"

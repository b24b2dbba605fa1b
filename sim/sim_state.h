// The simulator's state: the listed devices, the open ports, the shared
// environment and the call log, all behind one lock.
#pragma once

#include "sim/bridge_lines.h"
#include "sim/byte_queue.h"
#include "sim/call_log.h"
#include "sim/environment.h"
#include "sim/instrument.h"
#include "sim/receive_transfers.h"
#include "sim/usb_bridge.h"

#include "platform/platform.h"
#include "zef/d2xx.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zef::sim {

struct Port;

struct DeviceSlot {
    std::string description;
    std::uint32_t location = 0;
    bool held = false; // another program has it open
    bool cts = false;
    bool plugged = true;
    Port* port = nullptr; // our open port, if any
    Instrument instrument;
};

// An open D2XX handle.
struct Port {
    std::uint64_t token = 0;
    DeviceSlot* device = nullptr; // null once the cable was pulled
    BridgeLines lines;
    bool inTaskStopped = false;
    void* event = nullptr;
    std::uint32_t eventMask = 0;
    ByteQueue rx; // the driver's receive buffer
    // Real time: the bridge's packets, the driver's transfers and receive
    // buffer. Both timings: the transfers that brought bytes and whose event
    // the driver's thread has yet to signal.
    UsbBridge bridge;
    ReceiveTransfers transfers;
    std::size_t unsignalled = 0;
    std::uint64_t nudgedUs = 0; // fast timing: the last signal for bytes still unread
    std::uint32_t readTimeoutMs = kNoReadTimeout;
    std::uint64_t txBusyUntilUs = 0; // real time: when bit-bang output drains

    [[nodiscard]] bool dead() const { return device == nullptr; }
};

struct SimState {
    platform::Mutex lock;
    // Under `lock`: whatever a waiter may wait for changed (bytes came, a
    // handle closed, a cable was pulled, the producer is to stop).
    platform::Condition changed;
    // Held while the driver's thread touches a host's event; taken after
    // `lock`, never inside it. Whoever withdraws an event (FT_Close,
    // FT_SetEventNotification, a reset) takes and releases it once after
    // withdrawing, and from then on the event is never touched.
    platform::Mutex eventLock;
    Environment env;
    std::vector<std::unique_ptr<DeviceSlot>> devices;
    std::vector<std::unique_ptr<Port>> ports;
    static constexpr std::uint64_t kFirstToken = 0x5A000001;
    std::uint64_t nextToken = kFirstToken; // never reused, so stale handles stay invalid
    CallLog log;
};

SimState& simState();

// The open port of a handle; null for an unknown one, and a handle that was
// closed (FTDI's driver would touch freed memory) is counted.
Port* findPort(SimState& state, d2xx::FT_HANDLE handle);
// The same for a call that was already under way when the handle closed:
// not counted.
Port* portOf(SimState& state, std::uint64_t token);
// After withdrawing an event, outside `lock`: waits for a signal under way.
void fenceEvents(SimState& state);
// The device at a D2XX list index: the n-th one plugged in.
DeviceSlot* listedDevice(SimState& state, std::size_t index);
std::uint32_t listedCount(SimState& state);
Port& openPort(SimState& state, DeviceSlot& device, std::uint64_t nowUs);
void closePort(SimState& state, Port& port);
void pullCable(SimState& state, DeviceSlot& device);

// The driver's thread: moves bytes while nobody calls, and signals the
// registered events, outside the lock. Started with the first open, stopped
// by a reset; neither may be called with the lock held.
void ensureProducer();
void stopProducer();

} // namespace zef::sim

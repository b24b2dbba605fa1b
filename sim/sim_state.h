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
    // buffer, and the completed transfers whose event the driver's thread
    // has yet to signal.
    UsbBridge bridge;
    ReceiveTransfers transfers;
    std::size_t unsignalled = 0;
    std::uint32_t readTimeoutMs = kDefaultReadTimeoutMs;
    std::uint64_t txBusyUntilUs = 0; // real time: when bit-bang output drains

    [[nodiscard]] bool dead() const { return device == nullptr; }
};

struct SimState {
    platform::Mutex lock;
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
// The device at a D2XX list index: the n-th one plugged in.
DeviceSlot* listedDevice(SimState& state, std::size_t index);
std::uint32_t listedCount(SimState& state);
Port& openPort(SimState& state, DeviceSlot& device, std::uint64_t nowUs);
void closePort(SimState& state, Port& port);
void pullCable(DeviceSlot& device);

// The thread that moves bytes while nobody calls: started with the first
// open, stopped by a reset. Neither may be called with the lock held.
void ensureProducer();
void stopProducer();

} // namespace zef::sim

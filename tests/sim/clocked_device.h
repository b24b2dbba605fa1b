// The simulated device without any driver, on a clock the test sets: the
// instrument behind its bridge, configured and started.
#pragma once

#include "fpga_stream.h"
#include "sim/usb_bridge.h"

#include <cstdint>

namespace zef::sim::test {

inline constexpr std::uint64_t kStart = 1000000; // the clock when the gateware starts

struct Device {
    Environment env;
    Instrument instrument;
    UsbBridge bridge;
};

// Configured and started at kStart, so the ready status is waiting on the line.
inline void start(Device& d, std::uint32_t baud = 3000000, std::uint32_t latencyMs = 2) {
    d.instrument.attach(0);
    d.bridge.restart(kStart);
    d.bridge.setBaudRate(baud, kStart);
    d.bridge.setLatencyTimer(latencyMs, kStart);
    Bytes pins = {0x00, 0x80};
    const Bytes image = expandImage(minimalImage());
    pins.insert(pins.end(), image.begin(), image.end());
    const Bytes tail = trailer();
    pins.insert(pins.end(), tail.begin(), tail.end());
    d.instrument.beginBitBang();
    d.instrument.bitBangBytes(pins.data(), pins.size());
    d.instrument.endBitBang(d.env);
    const Bytes command = {0xA5, 0x00, 0x00};
    d.instrument.uartBytes(command.data(), command.size(), d.env, kStart);
}

} // namespace zef::sim::test

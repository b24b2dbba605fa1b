// One channel of an emulated FTDI bridge in front of a simulated ZEF418, as
// the USB bus sees it: FTDI's vendor requests, bulk-OUT bytes to the
// simulator's instrument model (UART or bit-bang, at the rate the baud rate
// sets and no faster than the bus carries them), and bulk-IN packets from
// the simulator's clock-driven bridge unit (sim/usb_bridge.h). It also keeps
// what crossed the wire, for the tests. Not thread-safe: its owner locks.
#pragma once

#include "bridge_model.h"

#include "sim/bridge_lines.h"
#include "sim/environment.h"
#include "sim/instrument.h"
#include "sim/usb_bridge.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zef::usbtest {

struct ControlSetup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

struct WireLog {
    std::vector<ControlSetup> vendorRequests;
    std::vector<std::uint8_t> uart;    // bulk-OUT bytes in the normal mode
    std::vector<std::uint8_t> bitBang; // bulk-OUT bytes in bit-bang mode
    std::size_t inTransfers = 0;       // completed bulk-IN transfers
    std::size_t inTransfersWithData = 0;
};

class BridgeChannel {
  public:
    BridgeChannel(const BridgeModel& model, std::string product, std::string serial,
                  std::uint64_t nowUs);

    // Answers a control request: the bytes it put in `data` (device to
    // host), 0 for a request that carries none, -1 to stall.
    int control(const ControlSetup& setup, std::uint8_t* data, std::uint64_t nowUs);
    // Takes bytes from the host; returns when the last of them is in the
    // bridge's transmit buffer, which is when the USB transfer completes.
    std::uint64_t bulkOut(const std::uint8_t* bytes, std::size_t n, std::uint64_t nowUs);
    // Answers IN tokens for a transfer of `capacity` bytes that holds
    // `length` already; true once it is complete (full, or ended by a short
    // packet).
    bool fillIn(std::uint8_t* buffer, std::size_t capacity, std::size_t& length,
                std::uint64_t nowUs);
    // Whether the host asks for IN packets at all (a transfer waits). While
    // it does not, the bridge holds the line, and the gateware drops whole
    // frames once its FIFO is full (sample_frames_overrun).
    void hostAsking(bool asking, std::uint64_t nowUs);
    // The gateware's clock runs on to `nowUs` while nobody asks.
    void idle(std::uint64_t nowUs);

    [[nodiscard]] const std::string& product() const { return product_; }
    [[nodiscard]] const std::string& serial() const { return serial_; }
    [[nodiscard]] std::uint32_t baud() const { return usb_.baudRate(); }
    [[nodiscard]] const WireLog& wire() const { return wire_; }
    sim::Environment& environment() { return env_; }
    void setCts(bool cts) { usb_.setCts(cts); }

  private:
    int standard(const ControlSetup& setup, std::uint8_t* data);
    void vendor(const ControlSetup& setup, std::uint64_t nowUs);

    const BridgeModel& model_;
    std::string product_;
    std::string serial_;
    sim::Environment env_;
    sim::Instrument instrument_;
    sim::BridgeLines lines_;
    sim::UsbBridge usb_;
    WireLog wire_;
    std::uint64_t txBusyUntilUs_ = 0;
};

} // namespace zef::usbtest

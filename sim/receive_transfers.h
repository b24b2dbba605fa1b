// FTDI's D2XX driver on the receive side, between the bridge's bulk-IN
// packets and the receive buffer that FT_GetQueueStatus and FT_Read see.
//
// The driver keeps an IN transfer of `transferBytes` open on the bus. Like
// FT_SetUSBParameters' InTransferSize, the size counts what crosses USB:
// whole packets, status bytes included, so a 4096-byte transfer of
// full-speed packets holds 64 of them and at most 3968 data bytes. A transfer
// completes when it is full or a short packet (status bytes alone too) ends
// it; only then are its data bytes stripped of the status bytes and added to
// the receive buffer. As FTDI describes its driver (AN232B-03), a new
// transfer is asked for only while the buffer has room for all it may bring;
// while it has none, or the IN task is stopped, the driver asks for nothing
// and the bridge holds the line (sim/usb_bridge.h). Nothing in the receive
// buffer is ever lost.
//
// Driven by the clock alone, like the bridge: the same packets complete the
// same transfers at the same times, whoever advances it and how often.
#pragma once

#include "sim/byte_queue.h"
#include "sim/environment.h"
#include "sim/instrument.h"
#include "sim/usb_bridge.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::sim {

// A transfer size as the driver takes it: a multiple of 64 bytes, 64 to 65536.
std::size_t validTransferBytes(std::uint64_t bytes);
std::size_t validReceiveCapacity(std::uint64_t bytes);

class ReceiveTransfers {
  public:
    ReceiveTransfers();

    // Takes effect for the next transfer; one already fuller completes now.
    void setTransferBytes(std::size_t bytes);
    void setCapacity(std::size_t bytes) { capacity_ = validReceiveCapacity(bytes); }

    // Takes every packet the bridge sent by `nowUs` and completes the
    // transfers they fill or end, into `buffer`; `taking` is false while the
    // IN task is stopped. Returns how many completed with data bytes (each
    // one a received-character event for the driver's thread), and counts
    // them (rx_transfers).
    std::size_t advance(UsbBridge& bridge, Instrument& instrument, Environment& env,
                        std::uint64_t nowUs, ByteQueue& buffer, bool taking);
    // Nothing a reader could see changes before this (UINT64_MAX: nothing
    // is coming), so a waiter may sleep until then.
    [[nodiscard]] std::uint64_t quietUntilUs(const UsbBridge& bridge, const Instrument& instrument,
                                             std::uint64_t nowUs) const;
    // The IN task stops: the transfer in progress ends with what it holds;
    // true when that was data.
    bool cut(std::uint64_t nowUs, Environment& env, ByteQueue& buffer);
    // Purge: the transfer in progress is thrown away.
    void clear();

    // Data bytes in the transfer on the bus, not readable yet.
    [[nodiscard]] std::size_t pendingBytes() const { return pending_.size(); }
    [[nodiscard]] std::size_t transferBytes() const { return transferBytes_; }
    [[nodiscard]] std::size_t capacity() const { return capacity_; }

  private:
    [[nodiscard]] std::size_t mostDataBytes(std::size_t packetBytes) const;
    bool add(const InPacket& packet, std::size_t packetBytes, Environment& env, ByteQueue& buffer);
    bool complete(std::uint64_t atUs, Environment& env, ByteQueue& buffer);

    std::size_t transferBytes_ = kDefaultTransferBytes;
    std::size_t capacity_ = kDefaultReceiveCapacity;

    // The transfer on the bus: `usbBytes_` of it filled, its data bytes kept
    // apart until it completes.
    std::vector<std::uint8_t> pending_;
    std::size_t usbBytes_ = 0;
    // Sample frames that ended in it, to stamp when they became readable.
    std::array<std::uint64_t, 64> endedSamples_{};
    std::size_t samplesEnded_ = 0;
    InPacket packet_; // one packet's room, kept so that advancing allocates nothing
};

} // namespace zef::sim

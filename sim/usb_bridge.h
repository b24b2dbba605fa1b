// The instrument's FTDI bridge as the USB host sees it, on the receive side.
// The gateware's bytes cross the UART at the baud rate (10 bits a byte, 8N1)
// and suffer the configured line faults; the bridge gathers them into bulk-IN
// packets of two status bytes (modem status, line status) and up to
// packet size - 2 data bytes. A packet goes when it is full; when the latency
// timer runs out, whatever is waiting goes as a short packet, or the status
// bytes alone when nothing is. The timer restarts with every packet. No more
// packets go than the bus carries (sim/usb_bus.h).
//
// While the driver asks for no packets (its receive buffer is full, its IN
// task stopped, no transfer is in flight) the bridge holds the line, as
// with flow control: the gateware's frames wait in its FIFO, which drops
// whole frames when it runs full (sample_frames_overrun).
//
// Driven by the clock alone: asked at any times, as often as one likes, the
// bridge yields the same packets at the same times. Times are microseconds
// on one monotonic clock, the instrument's too. Knows nothing of D2XX; a
// driver model (or a USB-level emulation) turns the packets into transfers.
#pragma once

#include "sim/environment.h"
#include "sim/instrument.h"
#include "sim/usb_bus.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zef::sim {

inline constexpr std::size_t kPacketStatusBytes = 2;
inline constexpr std::size_t kFullSpeedPacketBytes = 64;  // FT232R, FT2232D
inline constexpr std::size_t kHighSpeedPacketBytes = 512; // FT232H, FT2232H
// What the chip starts with after power-on, before a driver sets anything.
inline constexpr std::uint32_t kPowerOnBaudRate = 9600;
inline constexpr std::uint32_t kPowerOnLatencyMs = 16;
inline constexpr std::uint32_t kBitsPerByte = 10; // start, 8 data, stop

// Modem status (first status byte): bit 0 is always set; CTS is bit 4.
inline constexpr std::uint8_t kModemStatusBase = 0x01;
inline constexpr std::uint8_t kModemStatusCts = 0x10;
// Line status (second byte): transmitter holding register and transmitter empty.
inline constexpr std::uint8_t kLineStatusIdle = 0x60;

struct InPacket {
    std::uint64_t timeUs = 0; // when the bridge sent it
    std::size_t size = 0;     // bytes, status bytes included
    std::array<std::uint8_t, kHighSpeedPacketBytes> bytes{};
    // Sample frames (their numbers) whose last byte went into this packet.
    // Two fit; more can end in one packet only under drop rates above 60 %.
    std::size_t samplesEnded = 0;
    std::array<std::uint64_t, 2> endedSamples{};

    [[nodiscard]] const std::uint8_t* data() const { return bytes.data() + kPacketStatusBytes; }
    [[nodiscard]] std::size_t dataSize() const { return size - kPacketStatusBytes; }
};

// One byte across the line with the configured faults (a dropped byte still
// took its time on the line): false when it was lost. Counts it as sent or
// dropped, and as corrupted when a bit flipped.
bool crossLine(Environment& env, std::uint8_t& byte);

class UsbBridge {
  public:
    // Power-on state: 9600 Bd, a 16 ms latency timer, full-speed packets,
    // CTS low, nothing held, idle since time 0.
    UsbBridge() = default;

    // Nothing in the bridge's buffer; the line and the latency timer start
    // again at `nowUs` (a new port, a purge of the receive side).
    void restart(std::uint64_t nowUs);

    // Settings take effect at `nowUs`. Take every packet due by then first:
    // the bridge does not remember when a setting changed.
    void setBaudRate(std::uint32_t baud, std::uint64_t nowUs);
    void setLatencyTimer(std::uint32_t milliseconds, std::uint64_t nowUs);
    // 64 (full speed) or 512 (high speed); empties the buffer.
    void setPacketSize(std::size_t bytes);
    void setCts(bool cts) { cts_ = cts; }
    // While held (bit-bang mode: the pins are not the UART) or not asked
    // for packets, nothing crosses the line: the gateware's bytes wait in
    // the instrument, and no packet is sent. The line and the latency timer
    // start again when both end.
    void hold(bool held, std::uint64_t nowUs);
    void setAsking(bool asking, std::uint64_t nowUs);

    // The next packet that the bridge had sent by `nowUs`, oldest first;
    // false when there is none yet. Lets the instrument advance to `nowUs`
    // first, and counts what crosses the line (bytes_sent, bytes_dropped,
    // bytes_corrupted, sample_frames_sent, status_frames_sent).
    bool next(Instrument& instrument, Environment& env, std::uint64_t nowUs, InPacket& out);

    [[nodiscard]] std::uint32_t baudRate() const { return baud_; }
    [[nodiscard]] std::uint32_t latencyMs() const { return latencyMs_; }
    [[nodiscard]] std::size_t packetSize() const { return packetBytes_; }
    [[nodiscard]] bool held() const { return held_; }
    [[nodiscard]] bool asking() const { return asking_; }
    [[nodiscard]] const UsbBus& bus() const { return *bus_; }
    // When the next byte can be through the line (UINT64_MAX: none is
    // coming), when the latency timer runs out, and one byte's time.
    [[nodiscard]] std::uint64_t nextByteUs(const Instrument& instrument) const;
    // When the line has carried every byte queued now (the frames' own
    // times allowing); after that it idles until the next frame.
    [[nodiscard]] std::uint64_t lineIdleUs(const Instrument& instrument) const;
    [[nodiscard]] std::uint64_t latencyDeadlineUs() const {
        return timerStartUs_ + std::uint64_t{latencyMs_} * 1000U;
    }
    [[nodiscard]] std::uint64_t byteUs() const;
    // Data bytes through the line and waiting for their packet.
    [[nodiscard]] std::size_t buffered() const { return fill_; }
    [[nodiscard]] std::uint8_t modemStatus() const {
        return static_cast<std::uint8_t>(kModemStatusBase | (cts_ ? kModemStatusCts : 0U));
    }

  private:
    [[nodiscard]] std::uint64_t byteEndUs(std::uint64_t index) const;
    [[nodiscard]] std::uint64_t bytesDoneBy(std::uint64_t timeUs) const;
    void startRun(std::uint64_t atUs);
    void fillFromLine(Instrument& instrument, Environment& env, std::uint64_t limitUs);
    void hold(bool held, bool asking, std::uint64_t nowUs);
    void frameEnded(const OutFrame& frame, Environment& env);
    void emit(std::uint64_t atUs, InPacket& out);

    std::uint32_t baud_ = kPowerOnBaudRate;
    std::uint32_t latencyMs_ = kPowerOnLatencyMs;
    std::size_t packetBytes_ = kFullSpeedPacketBytes;
    const UsbBus* bus_ = &kFullSpeedBus;
    bool cts_ = false;
    bool held_ = false;
    bool asking_ = true;
    std::uint64_t busFreeUs_ = 0; // the bus can take the next packet from here

    // The line: bytes go back to back from runStartUs_ while frames wait;
    // runBytes_ of them have gone in this run.
    std::uint64_t runStartUs_ = 0;
    std::uint64_t runBytes_ = 0;
    std::uint64_t lineFreeUs_ = 0; // when the last byte sent was through

    std::uint64_t timerStartUs_ = 0; // the latency timer counts from here
    std::array<std::uint8_t, kHighSpeedPacketBytes - kPacketStatusBytes> buffer_{};
    std::size_t fill_ = 0;
    std::size_t samplesEnded_ = 0;
    std::array<std::uint64_t, 2> endedSamples_{};
};

} // namespace zef::sim

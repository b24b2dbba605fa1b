// The bridge's receive side, clock-driven: bytes from the gateware cross the
// UART at the host's baud rate (ten bits a byte) into the bridge's 256-byte
// buffer, and each IN token is answered with a 64-byte packet (two status
// bytes, up to 62 data bytes) once 62 are waiting, a short one when the
// latency timer runs out with less, and the status bytes alone when idle.
// Stand-in, shaped alike, until the simulator's own sim/usb_bridge.h lands:
// then the emulated bridge takes its packets from there.
#pragma once

#include "sim/environment.h"
#include "sim/instrument.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zef::usbtest {

class InPackets {
  public:
    static constexpr std::size_t kPacketBytes = 64;
    static constexpr std::size_t kStatusBytes = 2;
    static constexpr std::size_t kBufferBytes = 256;

    struct Packet {
        std::array<std::uint8_t, kPacketBytes> bytes{};
        std::size_t size = 0;
        std::uint64_t timeUs = 0;
    };

    void setBaud(std::uint32_t baud, std::uint64_t nowUs);
    void setLatencyMs(std::uint8_t milliseconds) { latencyUs_ = milliseconds * 1000ULL; }
    void setModemStatus(std::uint8_t status) { modemStatus_ = status; }
    void purge() { size_ = 0; }
    // In bit-bang mode every written byte leaves a sample of the pins.
    void pinSamples(const std::uint8_t* pins, std::size_t n);

    // The packet that answers an IN token at `nowUs`, if one is due.
    std::optional<Packet> next(sim::Instrument& instrument, sim::Environment& env,
                               std::uint64_t nowUs);
    // Nobody asks: the UART still fills the buffer, and what does not fit is lost.
    void idle(sim::Instrument& instrument, sim::Environment& env, std::uint64_t nowUs);
    // When a packet may be due at the latest, for the caller's clock.
    [[nodiscard]] std::uint64_t nextDueUs(const sim::Instrument& instrument) const;

  private:
    void receive(sim::Instrument& instrument, sim::Environment& env, std::uint64_t nowUs,
                 bool dropWhenFull);
    void push(std::uint8_t byte);

    std::array<std::uint8_t, kBufferBytes> buffer_{};
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::uint64_t bytesPerSecond_ = 960; // 9600 Bd at power-up
    std::uint64_t uartClockUs_ = 0;
    std::uint64_t latencyUs_ = 16000; // the bridge's default
    std::uint64_t lastPacketUs_ = 0;
    std::uint8_t modemStatus_ = 0x01;
};

} // namespace zef::usbtest

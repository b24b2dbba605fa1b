#include "in_packets.h"

#include <algorithm>

namespace zef::usbtest {

namespace {
constexpr std::size_t kDataPerPacket = InPackets::kPacketBytes - InPackets::kStatusBytes;
constexpr std::uint8_t kLineIdle = 0x60; // transmitter empty
} // namespace

void InPackets::setBaud(std::uint32_t baud, std::uint64_t nowUs) {
    bytesPerSecond_ = std::max<std::uint64_t>(baud / 10U, 1);
    uartClockUs_ = nowUs;
}

void InPackets::push(std::uint8_t byte) {
    buffer_[(head_ + size_) % kBufferBytes] = byte;
    ++size_;
}

void InPackets::pinSamples(const std::uint8_t* pins, std::size_t n) {
    for (std::size_t i = 0; i < n && size_ < kBufferBytes; ++i) {
        push(pins[i]);
    }
}

void InPackets::receive(sim::Instrument& instrument, sim::Environment& env, std::uint64_t nowUs,
                        bool dropWhenFull) {
    instrument.produceDue(env, nowUs);
    auto& output = instrument.output();
    const std::uint64_t elapsed = nowUs > uartClockUs_ ? nowUs - uartClockUs_ : 0;
    std::size_t budget = static_cast<std::size_t>(elapsed * bytesPerSecond_ / 1000000U);
    std::size_t moved = 0;
    while (!output.empty() && moved < budget && (dropWhenFull || size_ < kBufferBytes)) {
        sim::OutFrame& frame = output.front();
        if (size_ < kBufferBytes) {
            push(frame.bytes[frame.sent]);
            ++env.counters.bytes_sent;
        } else {
            ++env.counters.bytes_dropped;
        }
        ++moved;
        if (++frame.sent == frame.bytes.size()) {
            ++(frame.sampleNumber >= 0 ? env.counters.sample_frames_sent
                                       : env.counters.status_frames_sent);
            output.pop_front();
        }
    }
    if (output.empty()) {
        uartClockUs_ = nowUs; // the line went idle: no credit builds up
    } else {
        uartClockUs_ += moved * 1000000U / bytesPerSecond_;
    }
}

std::optional<InPackets::Packet> InPackets::next(sim::Instrument& instrument, sim::Environment& env,
                                                 std::uint64_t nowUs) {
    receive(instrument, env, nowUs, false);
    if (size_ < kDataPerPacket && nowUs < lastPacketUs_ + latencyUs_) {
        return std::nullopt;
    }
    Packet packet;
    packet.bytes[0] = modemStatus_;
    packet.bytes[1] = kLineIdle;
    const std::size_t data = std::min(size_, kDataPerPacket);
    for (std::size_t i = 0; i < data; ++i) {
        packet.bytes[kStatusBytes + i] = buffer_[(head_ + i) % kBufferBytes];
    }
    head_ = (head_ + data) % kBufferBytes;
    size_ -= data;
    packet.size = kStatusBytes + data;
    packet.timeUs = nowUs;
    lastPacketUs_ = nowUs;
    return packet;
}

void InPackets::idle(sim::Instrument& instrument, sim::Environment& env, std::uint64_t nowUs) {
    receive(instrument, env, nowUs, true);
}

std::uint64_t InPackets::nextDueUs(const sim::Instrument& instrument) const {
    std::uint64_t due = lastPacketUs_ + latencyUs_;
    const std::size_t waiting = instrument.pendingBytes();
    if (waiting > 0 && size_ < kDataPerPacket) {
        const std::size_t missing = std::min(kDataPerPacket - size_, waiting);
        due = std::min(due, uartClockUs_ + missing * 1000000U / bytesPerSecond_);
    }
    return due;
}

} // namespace zef::usbtest

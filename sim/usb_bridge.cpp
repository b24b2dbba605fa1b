#include "usb_bridge.h"

#include <algorithm>
#include <cstring>

namespace zef::sim {

namespace {

constexpr std::uint64_t kBitMicroseconds = std::uint64_t{kBitsPerByte} * 1000000U;

bool lineIsClean(const Environment& env) {
    return env.faults.dropRate <= 0.0 && env.faults.corruptRate <= 0.0;
}

} // namespace

bool crossLine(Environment& env, std::uint8_t& byte) {
    if (env.faultRng.chance(env.faults.dropRate)) {
        ++env.counters.bytes_dropped;
        return false;
    }
    if (env.faultRng.chance(env.faults.corruptRate)) {
        byte ^= static_cast<std::uint8_t>(1U << (env.faultRng.next() % 8U));
        ++env.counters.bytes_corrupted;
    }
    ++env.counters.bytes_sent;
    return true;
}

void UsbBridge::restart(std::uint64_t nowUs) {
    fill_ = 0;
    samplesEnded_ = 0;
    startRun(nowUs);
    timerStartUs_ = nowUs;
    busFreeUs_ = nowUs;
}

void UsbBridge::setBaudRate(std::uint32_t baud, std::uint64_t nowUs) {
    baud_ = std::max<std::uint32_t>(baud, 1);
    startRun(std::max(nowUs, lineFreeUs_));
}

void UsbBridge::setLatencyTimer(std::uint32_t milliseconds, std::uint64_t nowUs) {
    latencyMs_ = std::max<std::uint32_t>(milliseconds, 1);
    timerStartUs_ = nowUs;
}

void UsbBridge::setPacketSize(std::size_t bytes) {
    const bool high = bytes == kHighSpeedPacketBytes;
    packetBytes_ = high ? kHighSpeedPacketBytes : kFullSpeedPacketBytes;
    bus_ = high ? &kHighSpeedBus : &kFullSpeedBus;
    fill_ = 0;
    samplesEnded_ = 0;
}

void UsbBridge::setAsking(bool asking, std::uint64_t nowUs) {
    hold(held_, asking, nowUs);
}

std::uint64_t UsbBridge::byteUs() const {
    return (kBitMicroseconds + baud_ - 1) / baud_;
}

std::uint64_t UsbBridge::nextByteUs(const Instrument& instrument) const {
    const auto& output = instrument.output();
    if (output.empty()) {
        const std::uint64_t next = instrument.nextOutputUs();
        return next == UINT64_MAX ? next : next + byteUs();
    }
    return std::max(output.front().readyUs, lineFreeUs_) + byteUs();
}

void UsbBridge::hold(bool held, std::uint64_t nowUs) {
    hold(held, asking_, nowUs);
}

void UsbBridge::hold(bool held, bool asking, std::uint64_t nowUs) {
    const bool wasFrozen = held_ || !asking_;
    held_ = held;
    asking_ = asking;
    if (wasFrozen && !held_ && asking_) {
        startRun(std::max(nowUs, lineFreeUs_));
        timerStartUs_ = nowUs;
    }
}

std::uint64_t UsbBridge::lineIdleUs(const Instrument& instrument) const {
    std::uint64_t at = lineFreeUs_;
    for (const OutFrame& frame : instrument.output()) {
        at = std::max(at, frame.readyUs) + (frame.bytes.size() - frame.sent) * byteUs();
    }
    return at;
}

// Byte `index` of the current run is through at the end of its tenth bit.
std::uint64_t UsbBridge::byteEndUs(std::uint64_t index) const {
    return runStartUs_ + (index + 1) * kBitMicroseconds / baud_;
}

// How many bytes of the current run are through by `timeUs`: the inverse of
// byteEndUs, in whole microseconds.
std::uint64_t UsbBridge::bytesDoneBy(std::uint64_t timeUs) const {
    if (timeUs < runStartUs_) {
        return 0;
    }
    return ((timeUs - runStartUs_ + 1) * baud_ - 1) / kBitMicroseconds;
}

void UsbBridge::startRun(std::uint64_t atUs) {
    runStartUs_ = atUs;
    runBytes_ = 0;
    lineFreeUs_ = atUs;
}

void UsbBridge::frameEnded(const OutFrame& frame, Environment& env) {
    if (frame.sampleNumber < 0) {
        ++env.counters.status_frames_sent;
        return;
    }
    ++env.counters.sample_frames_sent;
    if (samplesEnded_ < endedSamples_.size()) {
        endedSamples_[samplesEnded_++] = static_cast<std::uint64_t>(frame.sampleNumber);
    }
}

// Moves the bytes that are through the line by `limitUs` into the buffer,
// stopping when it is full.
void UsbBridge::fillFromLine(Instrument& instrument, Environment& env, std::uint64_t limitUs) {
    auto& output = instrument.output();
    const std::size_t capacity = packetBytes_ - kPacketStatusBytes;
    const bool clean = lineIsClean(env);
    while (fill_ < capacity && !output.empty()) {
        OutFrame& frame = output.front();
        if (frame.readyUs > lineFreeUs_) { // the line fell idle before this frame
            if (frame.readyUs > limitUs) {
                return;
            }
            startRun(frame.readyUs);
        }
        const std::uint64_t through = bytesDoneBy(limitUs);
        if (through <= runBytes_) {
            return;
        }
        const std::size_t due = static_cast<std::size_t>(
            std::min<std::uint64_t>(through - runBytes_, frame.bytes.size() - frame.sent));
        std::size_t moved = 0;
        if (clean) {
            moved = std::min(due, capacity - fill_);
            std::memcpy(buffer_.data() + fill_, frame.bytes.data() + frame.sent, moved);
            fill_ += moved;
            env.counters.bytes_sent += moved;
        } else {
            while (moved < due && fill_ < capacity) {
                std::uint8_t byte = frame.bytes[frame.sent + moved++];
                if (crossLine(env, byte)) {
                    buffer_[fill_++] = byte;
                }
            }
        }
        frame.sent += moved;
        runBytes_ += moved;
        lineFreeUs_ = byteEndUs(runBytes_ - 1);
        if (frame.sent == frame.bytes.size()) {
            frameEnded(frame, env);
            output.pop_front();
        }
    }
}

void UsbBridge::emit(std::uint64_t atUs, InPacket& out) {
    out.timeUs = atUs;
    out.size = kPacketStatusBytes + fill_;
    out.bytes[0] = modemStatus();
    out.bytes[1] = kLineStatusIdle;
    std::memcpy(out.bytes.data() + kPacketStatusBytes, buffer_.data(), fill_);
    out.samplesEnded = samplesEnded_;
    out.endedSamples = endedSamples_;
    fill_ = 0;
    samplesEnded_ = 0;
    timerStartUs_ = atUs;
}

bool UsbBridge::next(Instrument& instrument, Environment& env, std::uint64_t nowUs, InPacket& out) {
    instrument.advance(env, nowUs);
    const std::uint64_t deadline = timerStartUs_ + std::uint64_t{latencyMs_} * 1000U;
    const bool frozen = held_ || !asking_;
    const std::uint64_t limit = frozen ? nowUs : std::min(nowUs, deadline);
    // Frames come as the line reaches their time, not in one batch up to
    // `nowUs`, so the gateware's FIFO fills as it would.
    instrument.produceDue(env, limit);
    if (frozen) {
        return false;
    }
    fillFromLine(instrument, env, limit);
    // A packet goes when it is due and the bus has room for it.
    std::uint64_t at = UINT64_MAX;
    if (fill_ == packetBytes_ - kPacketStatusBytes) {
        at = std::max(lineFreeUs_, busFreeUs_);
    } else if (deadline <= nowUs) {
        at = std::max(deadline, busFreeUs_);
    }
    if (at > nowUs) {
        return false;
    }
    emit(at, out);
    busFreeUs_ = at + bus_->packetUs();
    return true;
}

} // namespace zef::sim

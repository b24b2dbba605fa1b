#include "wire.h"

#include "sim/device_frames.h"

#include <algorithm>

namespace zef::sim {

namespace {

// Fast timing keeps this much queued for the reader.
constexpr std::size_t kFastBacklogBytes = 8 * frameSize(kSampleBodySize);
// Past this the driver's buffer overflows and bytes are lost.
constexpr std::size_t kReceiveCapacity = kDefaultReceiveCapacity;

// Returns how many bytes reached the receive queue.
std::size_t deliver(Environment& env, Port& port, const std::uint8_t* bytes, std::size_t n) {
    const Faults& faults = env.faults;
    zefsim_counters& c = env.counters;
    const bool clean = faults.dropRate <= 0.0 && faults.corruptRate <= 0.0;
    if (clean && port.rx.size() + n <= kReceiveCapacity) {
        port.rx.append(bytes, n);
        c.bytes_sent += n;
        return n;
    }
    std::size_t arrived = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (env.faultRng.chance(faults.dropRate) || port.rx.size() >= kReceiveCapacity) {
            ++c.bytes_dropped;
            continue;
        }
        std::uint8_t byte = bytes[i];
        if (env.faultRng.chance(faults.corruptRate)) {
            byte ^= static_cast<std::uint8_t>(1U << (env.faultRng.next() % 8U));
            ++c.bytes_corrupted;
        }
        port.rx.push(byte);
        ++c.bytes_sent;
        ++arrived;
    }
    return arrived;
}

// Every waiting frame, whole; returns how many bytes reached the buffer.
std::size_t transfer(Environment& env, Port& port, std::uint64_t nowUs) {
    std::size_t arrived = 0;
    auto& output = port.device->instrument.output();
    while (!output.empty()) {
        OutFrame& frame = output.front();
        arrived +=
            deliver(env, port, frame.bytes.data() + frame.sent, frame.bytes.size() - frame.sent);
        if (frame.sampleNumber >= 0) {
            ++env.counters.sample_frames_sent;
            env.frameTimes.record(static_cast<std::uint64_t>(frame.sampleNumber), nowUs);
        } else {
            ++env.counters.status_frames_sent;
        }
        output.pop_front();
    }
    return arrived;
}

// Returns how many batches brought bytes: 0 or 1.
std::size_t pumpFast(Environment& env, Port& port, std::uint64_t nowUs) {
    Instrument& instrument = port.device->instrument;
    const bool receiving = !port.lines.bitBang && !port.inTaskStopped;
    while (receiving && instrument.streaming() &&
           port.rx.size() + instrument.pendingBytes() < kFastBacklogBytes) {
        instrument.produceNext(env);
    }
    return receiving && transfer(env, port, nowUs) > 0 ? 1U : 0U;
}

} // namespace

void pump(SimState& state, Port& port, std::uint64_t nowUs) {
    if (port.dead()) {
        return;
    }
    Environment& env = state.env;
    port.device->instrument.advance(env, nowUs);
    std::size_t arrived = 0;
    if (env.timing == ZEFSIM_FAST) {
        arrived = pumpFast(env, port, nowUs);
    } else {
        port.transfers.setTransferBytes(env.transferBytes);
        port.transfers.setCapacity(env.receiveCapacity);
        arrived = port.transfers.advance(port.bridge, port.device->instrument, env, nowUs, port.rx,
                                         !port.inTaskStopped);
    }
    if (arrived > 0) {
        port.unsignalled += arrived;
        port.nudgedUs = nowUs;
        state.changed.notifyAll();
    }
}

constexpr std::uint64_t kNudgeUs = 1000;

bool nudge(const Environment& env, Port& port, std::uint64_t nowUs) {
    if (port.dead() || env.timing != ZEFSIM_FAST || port.rx.size() == 0 ||
        nowUs < port.nudgedUs + kNudgeUs) {
        return false;
    }
    port.nudgedUs = nowUs;
    return true;
}

std::uint64_t quietUntilUs(const Environment& env, const Port& port, std::uint64_t nowUs) {
    if (port.dead()) {
        return UINT64_MAX;
    }
    if (env.timing != ZEFSIM_REALTIME) {
        return port.rx.size() > 0 ? std::max(nowUs, port.nudgedUs + kNudgeUs) : UINT64_MAX;
    }
    return port.transfers.quietUntilUs(port.bridge, port.device->instrument, nowUs);
}

void restartReceive(Port& port, std::uint64_t nowUs) {
    port.bridge.restart(nowUs);
    port.transfers.clear();
    port.unsignalled = 0;
}

void catchUp(SimState& state, Port& port, std::uint64_t nowUs) {
    if (state.env.timing != ZEFSIM_FAST) {
        pump(state, port, nowUs);
    }
}

void updateReceiveHold(Port& port, std::uint64_t nowUs) {
    port.bridge.hold(port.lines.bitBang, nowUs);
}

} // namespace zef::sim

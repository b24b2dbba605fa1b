#include "wire.h"

#include "sim/device_frames.h"
#include "sim/event_signal.h"

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

void signalReceived(Environment& env, const Port& port) {
    if (port.event == nullptr || (port.eventMask & d2xx::FT_EVENT_RXCHAR) == 0) {
        return;
    }
    if (signalDriverEvent(port.event)) {
        ++env.counters.events_signalled;
    } else {
        ++env.counters.event_signal_failures;
    }
}

void pumpFast(Environment& env, Port& port, std::uint64_t nowUs) {
    Instrument& instrument = port.device->instrument;
    const bool receiving = !port.lines.bitBang && !port.inTaskStopped;
    while (receiving && instrument.streaming() &&
           port.rx.size() + instrument.pendingBytes() < kFastBacklogBytes) {
        instrument.produceNext(env);
    }
    if (receiving && transfer(env, port, nowUs) > 0) {
        signalReceived(env, port);
    }
}

} // namespace

void pump(Environment& env, Port& port, std::uint64_t nowUs) {
    if (port.dead()) {
        return;
    }
    port.device->instrument.advance(env, nowUs);
    if (env.timing == ZEFSIM_FAST) {
        pumpFast(env, port, nowUs);
        return;
    }
    port.transfers.setTransferBytes(env.transferBytes);
    port.transfers.setCapacity(env.receiveCapacity);
    port.unsignalled +=
        port.transfers.advance(port.bridge, port.device->instrument, env, nowUs, port.rx);
}

void signalEvents(Environment& env, Port& port) {
    for (; port.unsignalled > 0; --port.unsignalled) {
        signalReceived(env, port);
    }
}

void restartReceive(Port& port, std::uint64_t nowUs) {
    port.bridge.restart(nowUs);
    port.transfers.clear();
    port.unsignalled = 0;
}

void catchUp(Environment& env, Port& port, std::uint64_t nowUs) {
    if (env.timing != ZEFSIM_FAST) {
        pump(env, port, nowUs);
    }
}

void updateReceiveHold(Port& port, std::uint64_t nowUs) {
    port.bridge.hold(port.lines.bitBang || port.inTaskStopped, nowUs);
}

} // namespace zef::sim

#include "receive_transfers.h"

#include <algorithm>

namespace zef::sim {

std::size_t validTransferBytes(std::uint64_t bytes) {
    const std::uint64_t clamped =
        std::clamp<std::uint64_t>(bytes, kMinTransferBytes, kMaxTransferBytes);
    return static_cast<std::size_t>(clamped / kMinTransferBytes * kMinTransferBytes);
}

std::size_t validReceiveCapacity(std::uint64_t bytes) {
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(bytes, kMinReceiveCapacity, kMaxReceiveCapacity));
}

ReceiveTransfers::ReceiveTransfers() {
    pending_.reserve(kMaxTransferBytes);
}

void ReceiveTransfers::setTransferBytes(std::size_t bytes) {
    transferBytes_ = validTransferBytes(bytes);
}

bool ReceiveTransfers::cut(std::uint64_t nowUs, Environment& env, ByteQueue& buffer) {
    return usbBytes_ > 0 && complete(nowUs, env, buffer);
}

void ReceiveTransfers::clear() {
    pending_.clear();
    usbBytes_ = 0;
    samplesEnded_ = 0;
}

// Returns true when the packet ended the transfer.
bool ReceiveTransfers::add(const InPacket& packet, std::size_t packetBytes, Environment& env,
                           ByteQueue& buffer) {
    pending_.insert(pending_.end(), packet.data(), packet.data() + packet.dataSize());
    usbBytes_ += packet.size;
    for (std::size_t i = 0; i < packet.samplesEnded && samplesEnded_ < endedSamples_.size(); ++i) {
        endedSamples_[samplesEnded_++] = packet.endedSamples[i];
    }
    // A transfer smaller than one packet still takes whole packets.
    const bool full = usbBytes_ + packetBytes > std::max(transferBytes_, packetBytes);
    return (packet.size < packetBytes || full) && complete(packet.timeUs, env, buffer);
}

std::size_t ReceiveTransfers::mostDataBytes(std::size_t packetBytes) const {
    const std::size_t packets = std::max<std::size_t>(transferBytes_ / packetBytes, 1);
    return packets * (packetBytes - kPacketStatusBytes);
}

// The transfer's data bytes join the receive buffer at `atUs`; true when it
// brought any. It was asked for only with room for all it could bring.
bool ReceiveTransfers::complete(std::uint64_t atUs, Environment& env, ByteQueue& buffer) {
    const std::size_t n = pending_.size();
    buffer.append(pending_.data(), n);
    for (std::size_t i = 0; i < samplesEnded_; ++i) {
        env.frameTimes.record(endedSamples_[i], atUs);
    }
    pending_.clear();
    usbBytes_ = 0;
    samplesEnded_ = 0;
    if (n == 0) {
        return false; // status bytes alone: no character was received
    }
    ++env.counters.rx_transfers;
    return true;
}

std::size_t ReceiveTransfers::advance(UsbBridge& bridge, Instrument& instrument, Environment& env,
                                      std::uint64_t nowUs, ByteQueue& buffer, bool taking) {
    std::size_t completed = 0;
    const std::size_t packetBytes = bridge.packetSize();
    if (usbBytes_ > 0 && usbBytes_ + packetBytes > std::max(transferBytes_, packetBytes)) {
        completed += complete(nowUs, env, buffer) ? 1U : 0U; // the size shrank under it
    }
    // A transfer in progress runs to its end; a new one needs room for all
    // it may bring. The bridge learns of a change when the packet that made
    // it has gone, so nothing it sent later is taken.
    const auto asking = [&] {
        return usbBytes_ > 0 || (taking && capacity_ >= buffer.size() + mostDataBytes(packetBytes));
    };
    bridge.setAsking(asking(), nowUs);
    while (bridge.next(instrument, env, nowUs, packet_)) {
        completed += add(packet_, packetBytes, env, buffer) ? 1U : 0U;
        if (!asking()) {
            bridge.setAsking(false, packet_.timeUs);
        }
    }
    return completed;
}

std::uint64_t ReceiveTransfers::quietUntilUs(const UsbBridge& bridge, const Instrument& instrument,
                                             std::uint64_t nowUs) const {
    if (bridge.held()) {
        return UINT64_MAX;
    }
    const std::uint64_t firstByte = bridge.nextByteUs(instrument);
    if (!bridge.asking()) {
        // Only the gateware's FIFO fills: keep its counters roughly current.
        constexpr std::uint64_t kCountersStepUs = 20000;
        return nowUs + kCountersStepUs;
    }
    if (pending_.empty() && bridge.buffered() == 0) {
        return firstByte; // a transfer needs data to complete with any
    }
    // The line may fill the transfer first; else a short packet ends it when
    // the timer runs out, which a busy line keeps restarting.
    const std::size_t taken = pending_.size() + bridge.buffered();
    const std::size_t most = mostDataBytes(bridge.packetSize());
    const std::size_t room = most > taken ? most - taken : 0;
    const std::uint64_t filled =
        firstByte == UINT64_MAX ? UINT64_MAX : firstByte + room * bridge.byteUs();
    const std::uint64_t shortPacket =
        std::max(bridge.latencyDeadlineUs(), bridge.lineIdleUs(instrument));
    return std::min(shortPacket, filled);
}

} // namespace zef::sim

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

// The transfer's data bytes join the receive buffer at `atUs`; true when it
// brought any.
bool ReceiveTransfers::complete(std::uint64_t atUs, Environment& env, ByteQueue& buffer) {
    const std::size_t n = pending_.size();
    const std::size_t room = capacity_ > buffer.size() ? capacity_ - buffer.size() : 0;
    const std::size_t kept = std::min(n, room);
    buffer.append(pending_.data(), kept);
    env.counters.rx_overflow_bytes += n - kept;
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
                                      std::uint64_t nowUs, ByteQueue& buffer) {
    std::size_t completed = 0;
    const std::size_t packetBytes = bridge.packetSize();
    if (usbBytes_ > 0 && usbBytes_ + packetBytes > std::max(transferBytes_, packetBytes)) {
        completed += complete(nowUs, env, buffer) ? 1U : 0U; // the size shrank under it
    }
    while (bridge.next(instrument, env, nowUs, packet_)) {
        completed += add(packet_, packetBytes, env, buffer) ? 1U : 0U;
    }
    return completed;
}

} // namespace zef::sim

#include "bulk_in_packets.h"

#include <algorithm>

namespace zef::zefd2xx {

namespace {

constexpr std::size_t kStatusBytes = 2;
constexpr unsigned kFullSpeedPacket = 64;

} // namespace

unsigned bulkInPacketSize(unsigned reported) {
    return reported > kStatusBytes ? reported : kFullSpeedPacket;
}

std::size_t mostPayload(std::size_t transferBytes, unsigned packetSize) {
    const std::size_t packet = bulkInPacketSize(packetSize);
    const std::size_t tail = transferBytes % packet;
    return transferBytes / packet * (packet - kStatusBytes) +
           (tail > kStatusBytes ? tail - kStatusBytes : 0);
}

UnpackedTransfer unpackBulkIn(std::span<const std::uint8_t> transfer, int actualLength,
                              unsigned packetSize, ReceiveBuffer& ring, bool keep) {
    const std::size_t packet = bulkInPacketSize(packetSize);
    const std::size_t length =
        std::min(static_cast<std::size_t>(std::max(actualLength, 0)), transfer.size());
    UnpackedTransfer result;
    for (std::size_t at = 0; at + kStatusBytes <= length; at += packet) {
        result.status = static_cast<std::uint16_t>(transfer[at] | transfer[at + 1] << 8U);
        const std::size_t data = std::min(packet, length - at) - kStatusBytes;
        result.payload += data;
        if (keep) {
            result.kept += ring.put(transfer.data() + at + kStatusBytes, data);
        }
    }
    return result;
}

} // namespace zef::zefd2xx

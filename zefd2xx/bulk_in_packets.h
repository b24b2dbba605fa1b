// What an FTDI bridge's bulk-IN transfer holds: packets of the endpoint's
// size, each led by two status bytes (modem status, then line status), the
// rest data; only the last packet of a transfer may be short. Pure, so that
// it can be fuzzed without a bus.
#pragma once

#include "receive_buffer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zef::zefd2xx {

// The packet size to cut transfers at: the endpoint's, unless that leaves no
// room for data, when the full-speed bridges' 64 is assumed.
[[nodiscard]] unsigned bulkInPacketSize(unsigned reported);

// The data a transfer of `transferBytes` brings at most, its status bytes
// left out: what the ring must have room for before it is submitted.
[[nodiscard]] std::size_t mostPayload(std::size_t transferBytes, unsigned packetSize);

struct UnpackedTransfer {
    std::size_t payload = 0;             // data bytes in the transfer
    std::size_t kept = 0;                // of those, the ones put in the ring
    std::optional<std::uint16_t> status; // of the last packet that had both bytes
};

// Puts the data of the first `actualLength` bytes of `transfer` in `ring`
// when `keep` (not during a purge) and as far as it has room; the rest is
// counted, not kept. A length beyond the storage or below zero is clamped,
// and a trailing byte too short for a status is not a packet.
UnpackedTransfer unpackBulkIn(std::span<const std::uint8_t> transfer, int actualLength,
                              unsigned packetSize, ReceiveBuffer& ring, bool keep);

} // namespace zef::zefd2xx

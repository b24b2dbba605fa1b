// Fuzzes libzefd2xx's receive path (zefd2xx/bulk_in_packets.cpp): bulk-IN
// transfers as a bridge delivers them, put into a ring, against a model that
// reads each transfer byte by byte. The first byte chooses the packet size,
// the second the ring's capacity; each transfer after them is
//   flags, length (2 bytes, little-endian), [extra], [read (2 bytes)], bytes
// with min(length, what is left) bytes. flags & 3: the claimed length is the
// bytes' count, beyond it by extra + 1, -(extra + 1), or short of it by
// extra; flags & 4: a purge, nothing kept; flags & 8: `read` bytes are taken
// from the ring first.
#include "zefd2xx/bulk_in_packets.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <optional>
#include <vector>

namespace {

using zef::zefd2xx::ReceiveBuffer;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Input {
    const std::uint8_t* at;
    std::size_t left;

    std::uint8_t byte() {
        if (left == 0) {
            return 0;
        }
        --left;
        return *at++;
    }
    std::size_t twoBytes() {
        const std::size_t low = byte();
        return low | std::size_t{byte()} << 8U;
    }
};

// Below 0x80 the byte itself, sizes that leave no data among them.
unsigned packetSizeFrom(std::uint8_t choice) {
    constexpr std::array<unsigned, 16> kSizes = {8,   64,  512,  3,    63,   65, 100, 510,
                                                 511, 513, 1000, 4095, 4097, 0,  1,   2};
    return choice < 0x80 ? choice : kSizes[choice & 15U];
}

std::size_t capacityFrom(std::uint8_t choice) {
    constexpr std::array<std::size_t, 16> kCapacities = {0,  1,   2,   3,   7,   8,    61,   62,
                                                         64, 100, 126, 255, 512, 1000, 4096, 65536};
    return kCapacities[choice & 15U] + (choice >> 4U);
}

struct Transfer {
    std::vector<std::uint8_t> payload;
    std::optional<std::uint16_t> status;
};

// Every packet begins with two status bytes; anything without both is no packet.
Transfer readByByte(const std::vector<std::uint8_t>& bytes, std::size_t length,
                    unsigned packetSize) {
    const std::size_t packet = packetSize > 2 ? packetSize : 64;
    Transfer transfer;
    unsigned modem = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (i % packet == 0) {
            modem = bytes[i];
        } else if (i % packet == 1) {
            transfer.status = static_cast<std::uint16_t>(modem | unsigned{bytes[i]} << 8U);
        } else {
            transfer.payload.push_back(bytes[i]);
        }
    }
    return transfer;
}

void takeAndCompare(ReceiveBuffer& ring, std::deque<std::uint8_t>& model, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    const std::size_t taken = ring.take(out.data(), n);
    check(taken == std::min(n, model.size()));
    check(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(taken), model.begin()));
    model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(taken));
    check(ring.size() == model.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const unsigned packetSize = packetSizeFrom(in.byte());
    const std::size_t capacity = capacityFrom(in.byte());
    ReceiveBuffer ring(capacity);
    std::deque<std::uint8_t> model;

    while (in.left > 0) {
        const std::uint8_t flags = in.byte();
        const std::size_t length = in.twoBytes();
        const int extra = (flags & 3U) != 0 ? in.byte() : 0;
        if ((flags & 8U) != 0) {
            takeAndCompare(ring, model, in.twoBytes());
        }
        // A copy of its own, so that ASan sees a read past its end.
        const std::size_t count = std::min(length, in.left);
        const std::vector<std::uint8_t> bytes(in.at, in.at + count);
        in.at += count;
        in.left -= count;
        const int stored = static_cast<int>(count);
        const int claimed =
            std::array{stored, stored + extra + 1, -extra - 1, stored - extra}[flags & 3U];
        const auto delivered = static_cast<std::size_t>(std::clamp(claimed, 0, stored));
        const bool keep = (flags & 4U) == 0;

        const Transfer expected = readByByte(bytes, delivered, packetSize);
        const std::size_t room = capacity - model.size();
        const zef::zefd2xx::UnpackedTransfer got =
            zef::zefd2xx::unpackBulkIn(bytes, claimed, packetSize, ring, keep);
        check(got.payload == expected.payload.size());
        check(got.payload == zef::zefd2xx::mostPayload(delivered, packetSize));
        check(got.status == expected.status);
        const std::size_t kept = keep ? std::min(room, expected.payload.size()) : 0;
        check(got.kept == kept);
        model.insert(model.end(), expected.payload.begin(),
                     expected.payload.begin() + static_cast<std::ptrdiff_t>(kept));
        check(ring.size() == model.size());
    }
    takeAndCompare(ring, model, model.size() + 1);
    return 0;
}

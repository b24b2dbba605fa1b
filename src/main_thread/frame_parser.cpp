#include "frame_parser.h"

#include "crc16.h"
#include "plugin/device_state.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zef {

ParserState parserState;

namespace {

constexpr std::size_t kModelOffset = 4;
constexpr std::size_t kCalibrationAOffset = 26;
constexpr std::size_t kCalibrationBOffset = 90;
// Status and sample frames end after their body and two CRC bytes.
constexpr std::uint32_t kStatusLastCount = ParserState::kStatusBodySize + 1;

using StatusBody = std::array<std::uint8_t, ParserState::kStatusBodySize>;

constexpr bool continuesSyncCycle(std::uint8_t previous, std::uint8_t current) {
    return (previous == 0xAA && current == 0x0F) || (previous == 0x0F && current == 0x55) ||
           (previous == 0x55 && current == 0xAA);
}

constexpr std::uint32_t nextRunLength(std::uint32_t runLength, std::uint8_t previous,
                                      std::uint8_t current) {
    if (continuesSyncCycle(previous, current)) {
        return runLength + 1;
    }
    return current == 0xAA ? 1 : 0;
}

// A block that fails its own CRC leaves the previous one in place.
void copyBlockIfSealed(const StatusBody& body, std::size_t offset, CalibrationBlock& block) {
    const std::span<const std::uint8_t> source(body.data() + offset, kCalibrationBlockSize);
    if (crc16::compute(source) == 0) {
        std::copy(source.begin(), source.end(), block.begin());
    }
}

void processStatusFrame(const StatusBody& body, LinkSession session) {
    const auto model =
        static_cast<std::uint16_t>(body[kModelOffset] | body[kModelOffset + 1] << 8U);
    deviceState.deviceModel.store(model);
    copyBlockIfSealed(body, kCalibrationAOffset, deviceState.calibrationA);
    copyBlockIfSealed(body, kCalibrationBOffset, deviceState.calibrationB);
    // Flags last: whoever sees one raised also sees this frame's model.
    reportDeviceState(session, body[0]);
}

void deliverSamples(ParserState& parser) {
    if (!deviceState.callbackSet.load() || !deviceState.streaming.load()) {
        return;
    }
    // SetCallback(nullptr) raises callbackSet too; there is nothing to call.
    const ExtIOCallback callback = deviceState.hostCallback.load();
    if (callback != nullptr) {
        callback(kBlockPairs, 0, 0.0F, parser.sampleBody.data());
    }
}

void statusByte(ParserState& parser, std::uint8_t c) {
    parser.crc = crc16::step(parser.crc, c);
    if (parser.count < ParserState::kStatusBodySize) {
        parser.statusBody[parser.count] = c;
    }
    if (parser.count < kStatusLastCount) {
        ++parser.count;
        return;
    }
    parser.phase = ParserPhase::OutsideFrame;
    if (parser.crc == 0) {
        processStatusFrame(parser.statusBody, parser.session);
    }
}

void sampleByte(ParserState& parser, std::uint8_t c) {
    parser.crc = crc16::step(parser.crc, c);
    if (parser.count < parser.sampleCapacity) {
        parser.sampleBody[parser.count] = c;
    }
    if (parser.count < parser.sampleCapacity + 1) {
        ++parser.count;
        return;
    }
    parser.phase = ParserPhase::OutsideFrame;
    if (parser.crc == 0) {
        deliverSamples(parser);
    }
}

// One byte through the state machine, exactly as the wire format reads.
void stepByte(ParserState& parser, std::uint8_t c) {
    const bool syncSeen = c == 0x00 && parser.runLength >= ParserState::kSyncRunMinimum;
    parser.runLength = nextRunLength(parser.runLength, parser.previousByte, c);
    parser.previousByte = c;
    if (syncSeen) {
        // Also abandons a frame in progress.
        parser.count = 0;
        parser.phase = ParserPhase::TypeByte;
        parser.crc = crc16::kInitial;
        return;
    }
    switch (parser.phase) {
    case ParserPhase::TypeByte:
        parser.crc = crc16::step(parser.crc, c);
        if (c == ParserState::kStatusType) {
            parser.phase = ParserPhase::StatusFrame;
        } else {
            parser.phase = ParserPhase::SampleFrame;
            parser.sampleCapacity = ParserState::kSampleBodySize;
        }
        break;
    case ParserPhase::StatusFrame:
        statusByte(parser, c);
        break;
    case ParserPhase::SampleFrame:
        sampleByte(parser, c);
        break;
    case ParserPhase::OutsideFrame:
        break;
    }
}

// The fast path takes a stretch of bytes in bulk, looking at it in 8-byte
// words from its start. A sync is a 00 after a run of 24. A run carried into
// the stretch below kFastRunCeiling reaches 24 only after 8 more cycle bytes,
// which fill the first word with the cycle; a run begun inside the stretch
// needs 24 bytes, which cover one of its whole words. So everything before
// the first all-cycle word, a short last word included, holds no sync and
// needs only its CRC and its copy; runLength and previousByte follow from
// the stretch's tail.
constexpr std::uint32_t kFastRunCeiling = 17;
constexpr std::size_t kWord = 8;

constexpr std::array<std::uint8_t, 3> kSyncCycle{0xAA, 0x0F, 0x55};

constexpr std::uint8_t syncCycleByte(std::size_t position) {
    return kSyncCycle[position % kSyncCycle.size()];
}

// The eight bytes of the cycle from `phase` on, as a word in memory order.
constexpr std::uint64_t cycleWordFrom(std::size_t phase) {
    std::array<std::uint8_t, kWord> bytes{};
    for (std::size_t i = 0; i < kWord; ++i) {
        bytes[i] = syncCycleByte(phase + i);
    }
    return std::bit_cast<std::uint64_t>(bytes);
}

// Indexed by a word's first byte: the all-cycle word that starts with it, or
// one that starts with another byte when it is no cycle byte.
constexpr std::array<std::uint64_t, 256> kCycleWords = [] {
    std::array<std::uint64_t, 256> words{};
    words.fill(cycleWordFrom(0));
    for (std::size_t phase = 0; phase < kSyncCycle.size(); ++phase) {
        words[syncCycleByte(phase)] = cycleWordFrom(phase);
    }
    return words;
}();

// How much of the front of `bytes` holds no sync: up to its first all-cycle
// word, or all of it.
std::size_t syncFreeLength(std::span<const std::uint8_t> bytes) {
    for (std::size_t n = 0; n + kWord <= bytes.size(); n += kWord) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + n, kWord);
        if (word == kCycleWords[bytes[n]]) {
            return n;
        }
    }
    return bytes.size();
}

// The run length after the last of `bytes` (not empty), as stepByte would
// have left it, from the state before the first.
std::uint32_t runLengthAfter(std::span<const std::uint8_t> bytes, std::uint32_t runLength,
                             std::uint8_t previous) {
    std::size_t j = bytes.size() - 1;
    std::uint32_t steps = 0;
    while (j > 0 && continuesSyncCycle(bytes[j - 1], bytes[j])) {
        ++steps;
        --j;
    }
    if (j == 0 && continuesSyncCycle(previous, bytes[0])) {
        return runLength + steps + 1;
    }
    return steps + (bytes[j] == 0xAA ? 1U : 0U);
}

// Room left in the current frame's body buffer, or 0 where bytes must go one
// at a time (type byte, CRC bytes, no frame); outside a frame every byte is
// skippable.
std::size_t fastRoom(const ParserState& parser, std::size_t available) {
    switch (parser.phase) {
    case ParserPhase::SampleFrame:
        return parser.count < parser.sampleCapacity
                   ? std::min<std::size_t>(available, parser.sampleCapacity - parser.count)
                   : 0;
    case ParserPhase::StatusFrame:
        return parser.count < ParserState::kStatusBodySize
                   ? std::min<std::size_t>(available, ParserState::kStatusBodySize - parser.count)
                   : 0;
    case ParserPhase::OutsideFrame:
        return available;
    case ParserPhase::TypeByte:
        break;
    }
    return 0;
}

// Takes a sync-free stretch from the front of `bytes` in bulk: CRC and copy
// for a body, nothing for bytes outside a frame. Returns how many it took (0
// when the next byte needs stepByte).
std::size_t takeSyncFree(ParserState& parser, std::span<const std::uint8_t> bytes) {
    if (parser.runLength >= kFastRunCeiling) {
        return 0;
    }
    const std::span<const std::uint8_t> stretch =
        bytes.first(syncFreeLength(bytes.first(fastRoom(parser, bytes.size()))));
    if (stretch.empty()) {
        return 0;
    }
    if (parser.phase != ParserPhase::OutsideFrame) {
        std::uint8_t* body = parser.phase == ParserPhase::SampleFrame ? parser.sampleBody.data()
                                                                      : parser.statusBody.data();
        parser.crc = crc16::computeSliced(stretch, parser.crc);
        std::memcpy(body + parser.count, stretch.data(), stretch.size());
        parser.count += static_cast<std::uint32_t>(stretch.size());
    }
    parser.runLength = runLengthAfter(stretch, parser.runLength, parser.previousByte);
    parser.previousByte = stretch.back();
    return stretch.size();
}

} // namespace

void parseBytesReference(ParserState& parser, std::span<const std::uint8_t> bytes,
                         const platform::Thread& worker) {
    for (const std::uint8_t c : bytes) {
        if (worker.terminateRequested()) {
            return;
        }
        stepByte(parser, c);
    }
}

// Callbacks only happen in stepByte, and the request is tested before every
// stretch and every single byte, so a request made from inside the callback
// stops the parse before the next byte as the reference does. A request from
// another thread lands during a stretch at the latest; the stretch holds no
// callback, so that reads as the same request seen a few bytes later.
void parseBytes(ParserState& parser, std::span<const std::uint8_t> bytes,
                const platform::Thread& worker) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (worker.terminateRequested()) {
            return;
        }
        const std::size_t taken = takeSyncFree(parser, bytes.subspan(at));
        if (taken > 0) {
            at += taken;
            continue;
        }
        stepByte(parser, bytes[at]);
        ++at;
    }
}

} // namespace zef

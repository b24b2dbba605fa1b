#include "frame_parser.h"

#include "crc16.h"
#include "plugin/device_state.h"

#include <algorithm>

namespace zef {

ParserState parserState;

namespace {

constexpr std::uint8_t kStateReady = 2;
constexpr std::uint8_t kStateAcknowledged = 3;
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

void processStatusFrame(const StatusBody& body) {
    const auto model =
        static_cast<std::uint16_t>(body[kModelOffset] | body[kModelOffset + 1] << 8U);
    deviceState.deviceModel.store(model);
    copyBlockIfSealed(body, kCalibrationAOffset, deviceState.calibrationA);
    copyBlockIfSealed(body, kCalibrationBOffset, deviceState.calibrationB);
    // Flags last: whoever sees one raised also sees this frame's model.
    if (body[0] == kStateReady) {
        deviceState.deviceReady.store(true);
    } else if (body[0] == kStateAcknowledged) {
        deviceState.settingsAcked.store(true);
    }
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
        processStatusFrame(parser.statusBody);
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

} // namespace

void parseBytesReference(ParserState& parser, std::span<const std::uint8_t> bytes,
                         const platform::Thread& worker) {
    for (const std::uint8_t c : bytes) {
        if (worker.terminateRequested()) {
            return;
        }
        const bool syncSeen = c == 0x00 && parser.runLength >= ParserState::kSyncRunMinimum;
        parser.runLength = nextRunLength(parser.runLength, parser.previousByte, c);
        parser.previousByte = c;
        if (syncSeen) {
            // Also abandons a frame in progress.
            parser.count = 0;
            parser.phase = ParserPhase::TypeByte;
            parser.crc = crc16::kInitial;
            continue;
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
}

void parseBytes(ParserState& parser, std::span<const std::uint8_t> bytes,
                const platform::Thread& worker) {
    parseBytesReference(parser, bytes, worker);
}

} // namespace zef

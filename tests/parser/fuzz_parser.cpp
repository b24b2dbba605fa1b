// libFuzzer target for the frame parser. The input is a split header (byte 0:
// number of split points, then that many 16-bit offsets) and a byte stream.
// Both cores parse the stream in those chunks and must agree with a
// frame-by-frame reading of the whole stream: the same deliveries in the same
// order, the same status outcome, the same final state.
#include "main_thread/frame_parser.h"
#include "plugin/device_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;
using zef::ParserState;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

class IdleWorker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

// What the whole stream should do, read frame by frame.
struct Outcome {
    std::vector<const std::uint8_t*> sampleBodies;
    bool ready = false;
    bool acked = false;
    std::uint16_t model = 0;
    zef::CalibrationBlock calibrationA{};
    zef::CalibrationBlock calibrationB{};
};

bool continuesCycle(std::uint8_t previous, std::uint8_t current) {
    return (previous == 0xAA && current == 0x0F) || (previous == 0x0F && current == 0x55) ||
           (previous == 0x55 && current == 0xAA);
}

// CRC-16/MODBUS bit by bit, apart from the parser's tables. The harness reads
// bytes through plain pointers: the library's inline helpers are shared with
// the instrumented code and would bring its comparison hooks along.
std::uint16_t crc16(const std::uint8_t* bytes, std::size_t n) {
    std::uint32_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1U) ^ 0xA001U : crc >> 1U;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

// Where a 00 ends a sync: after a chain of cycle bytes that is long enough.
// A chain counts its steps, plus one when it starts with AA.
std::vector<std::size_t> terminators(const std::uint8_t* s, std::size_t n) {
    std::vector<std::size_t> found;
    std::size_t chainStart = 0; // of the chain that ends just before byte i
    for (std::size_t i = 1; i < n; ++i) {
        if (i >= 2 && !continuesCycle(s[i - 2], s[i - 1])) {
            chainStart = i - 1;
        }
        const std::size_t run = (i - 1 - chainStart) + (s[chainStart] == 0xAA ? 1U : 0U);
        if (s[i] == 0x00 && run >= ParserState::kSyncRunMinimum) {
            found.push_back(i);
        }
    }
    return found;
}

void takeBlockIfSealed(const std::uint8_t* body, std::size_t offset, zef::CalibrationBlock& block) {
    if (crc16(body + offset, block.size()) == 0) {
        std::memcpy(block.data(), body + offset, block.size());
    }
}

Outcome expectedOutcome(Bytes stream) {
    Outcome outcome;
    const std::uint8_t* s = stream.data();
    const std::size_t n = stream.size();
    const std::vector<std::size_t> ends = terminators(s, n);
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::size_t t = ends[k];
        if (t + 1 >= n) {
            continue;
        }
        const bool status = s[t + 1] == ParserState::kStatusType;
        const std::size_t frameBytes =
            1 + (status ? ParserState::kStatusBodySize : ParserState::kSampleBodySize) + 2;
        if (t + frameBytes >= n) {
            continue; // incomplete
        }
        if (k + 1 < ends.size() && ends[k + 1] <= t + frameBytes) {
            continue; // abandoned by a later sync
        }
        const std::uint8_t* frame = s + t + 1;
        if (crc16(frame, frameBytes) != 0) {
            continue;
        }
        const std::uint8_t* body = frame + 1;
        if (!status) {
            outcome.sampleBodies.push_back(body);
            continue;
        }
        outcome.ready = outcome.ready || body[0] == 2;
        outcome.acked = outcome.acked || body[0] == 3;
        outcome.model = static_cast<std::uint16_t>(body[4] | body[5] << 8U);
        takeBlockIfSealed(body, 26, outcome.calibrationA);
        takeBlockIfSealed(body, 90, outcome.calibrationB);
    }
    return outcome;
}

// The run in progress, for the callback.
const Outcome* expected = nullptr;
const ParserState* running = nullptr;
std::size_t delivered = 0;

void checkingCallback(int count, int status, float iqOffset, void* data) {
    check(count == 512 && status == 0 && iqOffset == 0.0F);
    check(data == running->sampleBody.data() && running->crc == 0);
    check(delivered < expected->sampleBodies.size());
    check(std::memcmp(data, expected->sampleBodies[delivered], ParserState::kSampleBodySize) == 0);
    ++delivered;
}

void checkInvariants(const ParserState& parser) {
    switch (parser.phase) {
    case zef::ParserPhase::OutsideFrame:
    case zef::ParserPhase::TypeByte:
        check(parser.count <= ParserState::kSampleBodySize + 1);
        break;
    case zef::ParserPhase::StatusFrame:
        check(parser.count <= ParserState::kStatusBodySize + 1);
        break;
    case zef::ParserPhase::SampleFrame:
        check(parser.sampleCapacity == ParserState::kSampleBodySize);
        check(parser.count <= parser.sampleCapacity + 1);
        break;
    default:
        check(false);
    }
}

void resetDevice() {
    zef::DeviceState& device = zef::deviceState;
    device.deviceReady.store(false);
    device.settingsAcked.store(false);
    device.deviceModel.store(0);
    device.calibrationA.fill(0);
    device.calibrationB.fill(0);
    device.hostCallback.store(&checkingCallback);
    device.callbackSet.store(true);
    device.streaming.store(true);
}

using Core = void (*)(ParserState&, Bytes, const zef::platform::Thread&);

void runCore(Core core, ParserState& parser, Bytes stream, const std::vector<std::size_t>& cuts,
             const Outcome& outcome) {
    static IdleWorker worker;
    parser = ParserState{};
    resetDevice();
    expected = &outcome;
    running = &parser;
    delivered = 0;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        core(parser, stream.subspan(from, cut - from), worker);
        checkInvariants(parser);
        from = cut;
    }
    check(delivered == outcome.sampleBodies.size());
    const zef::DeviceState& device = zef::deviceState;
    check(device.deviceReady.load() == outcome.ready);
    check(device.settingsAcked.load() == outcome.acked);
    check(device.deviceModel.load() == outcome.model);
    check(device.calibrationA == outcome.calibrationA);
    check(device.calibrationB == outcome.calibrationB);
}

bool sameState(const ParserState& a, const ParserState& b) {
    return a.phase == b.phase && a.crc == b.crc && a.count == b.count &&
           a.runLength == b.runLength && a.previousByte == b.previousByte &&
           a.sampleCapacity == b.sampleCapacity && a.statusBody == b.statusBody &&
           a.sampleBody == b.sampleBody;
}

ParserState referenceState;
ParserState fastState;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t splits = data[0] & 0x0FU;
    const std::size_t header = 1 + 2 * splits;
    if (size < header) {
        return 0;
    }
    const Bytes stream(data + header, size - header);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < splits; ++i) {
        const std::size_t offset = data[1 + 2 * i] | static_cast<std::size_t>(data[2 + 2 * i])
                                                         << 8U;
        cuts.push_back(offset % (stream.size() + 1));
    }
    cuts.push_back(stream.size());
    std::sort(cuts.begin(), cuts.end());

    const Outcome outcome = expectedOutcome(stream);
    runCore(&zef::parseBytesReference, referenceState, stream, cuts, outcome);
    runCore(&zef::parseBytes, fastState, stream, cuts, outcome);
    check(sameState(referenceState, fastState));
    return 0;
}

// parseBytes' bulk path against the byte-by-byte reference on the streams
// where they could part: cycle runs and syncs inside bodies at every offset
// from the bulk path's word grid, and passes cut at every byte.
#include "main_thread/frame_parser.h"
#include "plugin/device_state.h"
#include "sim/device_frames.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <vector>

namespace {

namespace sim = zef::sim;
using Bytes = std::vector<std::uint8_t>;
using Core = void (*)(zef::ParserState&, std::span<const std::uint8_t>,
                      const zef::platform::Thread&);

class IdleWorker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

std::vector<Bytes> delivered;

void recordingCallback(int /*count*/, int /*status*/, float /*iqOffset*/, void* data) {
    const auto* body = static_cast<const std::uint8_t*>(data);
    delivered.emplace_back(body, body + sim::kSampleBodySize);
}

struct Outcome {
    std::vector<Bytes> deliveries;
    zef::ParserState state;
    bool ready = false;
    std::uint16_t model = 0;
};

// Parses `stream` cut at `cuts` (ascending) from a fresh state.
Outcome run(Core core, const Bytes& stream, const std::vector<std::size_t>& cuts) {
    zef::DeviceState& device = zef::deviceState;
    device.deviceReady.store(false);
    device.deviceModel.store(0);
    device.hostCallback.store(&recordingCallback);
    device.callbackSet.store(true);
    device.streaming.store(true);
    delivered.clear();
    zef::ParserState parser;
    IdleWorker worker;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        core(parser, std::span(stream).subspan(from, cut - from), worker);
        from = cut;
    }
    core(parser, std::span(stream).subspan(from), worker);
    return {delivered, parser, device.deviceReady.load(), device.deviceModel.load()};
}

// Returns the reference's outcome after checking that the fast path agrees.
Outcome expectSameOutcome(const Bytes& stream, const std::vector<std::size_t>& cuts = {}) {
    const Outcome fast = run(&zef::parseBytes, stream, cuts);
    Outcome reference = run(&zef::parseBytesReference, stream, cuts);
    EXPECT_EQ(fast.deliveries, reference.deliveries);
    EXPECT_EQ(fast.ready, reference.ready);
    EXPECT_EQ(fast.model, reference.model);
    const zef::ParserState& a = fast.state;
    const zef::ParserState& b = reference.state;
    EXPECT_EQ(a.phase, b.phase);
    EXPECT_EQ(a.crc, b.crc);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.runLength, b.runLength);
    EXPECT_EQ(a.previousByte, b.previousByte);
    EXPECT_EQ(a.sampleCapacity, b.sampleCapacity);
    EXPECT_EQ(a.statusBody, b.statusBody);
    EXPECT_EQ(a.sampleBody, b.sampleBody);
    return reference;
}

void appendPatternFrame(Bytes& out, std::uint32_t number, std::size_t preambleBytes = 24) {
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    sim::writePatternBody(body.data(), number);
    sim::appendFrame(out, sim::kSampleType, body, preambleBytes);
}

// A sample frame whose body holds `runBytes` of the cycle from `phase` at
// `offset`, then `after`, then a good frame.
Bytes bodyWithRun(std::size_t offset, std::size_t runBytes, std::size_t phase, std::uint8_t after) {
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    sim::writePatternBody(body.data(), 1);
    if (offset > 0) {
        body[offset - 1] = 0x11; // no pattern byte may lengthen the run
    }
    for (std::size_t i = 0; i < runBytes; ++i) {
        body[offset + i] = sim::kSyncCycle[(phase + i) % 3];
    }
    body[offset + runBytes] = after;
    Bytes stream;
    sim::appendFrame(stream, sim::kSampleType, body);
    appendPatternFrame(stream, 2);
    return stream;
}

TEST(FastParser, SyncInsideABodyAtEveryWordOffset) {
    for (std::size_t offset = 0; offset < 40; ++offset) {
        for (const std::size_t runBytes : {23U, 24U, 25U, 33U, 90U}) {
            for (std::size_t phase = 0; phase < 3; ++phase) {
                SCOPED_TRACE(testing::Message()
                             << "offset " << offset << " run " << runBytes << " phase " << phase);
                const Outcome outcome = expectSameOutcome(bodyWithRun(offset, runBytes, phase, 0));
                // A run of 24 needs 24 bytes from AA, or 25 from a later phase.
                const bool sync = runBytes + (phase == 0 ? 1U : 0U) > 24;
                EXPECT_EQ(outcome.deliveries.size(), sync ? 1U : 2U);
            }
        }
    }
}

TEST(FastParser, CycleRunWithoutTerminatorKeepsTheFrame) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
        const Outcome outcome = expectSameOutcome(bodyWithRun(offset, 200, 0, 0x42));
        EXPECT_EQ(outcome.deliveries.size(), 2U);
    }
}

Bytes mixedStream() {
    Bytes stream;
    appendPatternFrame(stream, 7, 40); // a run carried well past the ceiling
    std::array<std::uint8_t, 64> block{};
    sim::sealBlock(block);
    sim::appendFrame(stream, sim::kStatusType, sim::statusBody(sim::kStateReady, 53, block, block));
    const Bytes tail = bodyWithRun(5, 24, 0, 0);
    stream.insert(stream.end(), tail.begin(), tail.end());
    return stream;
}

TEST(FastParser, PassesCutAtEveryByte) {
    const Bytes stream = mixedStream();
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        const Outcome outcome = expectSameOutcome(stream, {cut});
        ASSERT_EQ(outcome.deliveries.size(), 2U);
        ASSERT_TRUE(outcome.ready);
    }
    // Three passes with both cuts inside the same body.
    for (std::size_t first = 0; first < 64; ++first) {
        expectSameOutcome(stream, {first + 30, first + 95});
    }
}

// Short passes end in part-words, as the worker's do at the device's rate.
TEST(FastParser, ShortPassesOfEverySize) {
    const Bytes stream = mixedStream();
    for (std::size_t size = 1; size <= 17; ++size) {
        SCOPED_TRACE(testing::Message() << "passes of " << size);
        std::vector<std::size_t> cuts;
        for (std::size_t cut = size; cut < stream.size(); cut += size) {
            cuts.push_back(cut);
        }
        EXPECT_EQ(expectSameOutcome(stream, cuts).deliveries.size(), 2U);
    }
}

} // namespace

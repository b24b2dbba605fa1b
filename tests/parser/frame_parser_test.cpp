// The parser core on byte streams built with the device's frame encoder. Every
// case runs against both parseBytes and parseBytesReference.
#include "parser_support.h"

#include "plugin/device_state.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

namespace {

using namespace parser_test;
namespace sim = zef::sim;
using Bytes = std::vector<std::uint8_t>;
using Core = void (*)(zef::ParserState&, std::span<const std::uint8_t>,
                      const zef::platform::Thread&);

class ParserCore : public ::testing::TestWithParam<Core> {
  protected:
    void SetUp() override { resetAll(); }
    void parse(std::span<const std::uint8_t> bytes) {
        GetParam()(zef::parserState, bytes, worker_);
    }
    IdleWorker worker_;
};

INSTANTIATE_TEST_SUITE_P(Cores, ParserCore,
                         ::testing::Values(&zef::parseBytes, &zef::parseBytesReference),
                         [](const ::testing::TestParamInfo<Core>& param) {
                             return std::string(param.index == 0 ? "Fast" : "Reference");
                         });

TEST_P(ParserCore, PreambleNeedsARunOfTwentyFourCycleBytes) {
    struct Case {
        const char* name;
        std::size_t preambleBytes; // written starting at AA
        std::size_t droppedLeading;
        bool delivered;
    };
    const Case cases[] = {
        {"24 from AA", 24, 0, true},
        {"23, leading AA missing", 24, 1, false},
        {"30 from AA", 30, 0, true},
        {"25 from 0F counts 24", 26, 1, true},
        {"24 from 0F counts 23", 25, 1, false},
        {"22 from 55", 24, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetAll();
        Bytes stream;
        appendSampleFrame(stream, 1, sim::kSampleType, c.preambleBytes);
        stream.erase(stream.begin(),
                     stream.begin() + static_cast<std::ptrdiff_t>(c.droppedLeading));
        parse(stream);
        EXPECT_EQ(host.deliveries.size(), c.delivered ? 1U : 0U);
    }
}

TEST_P(ParserCore, BrokenCycleRestartsTheRun) {
    Bytes stream;
    appendSampleFrame(stream, 1);
    stream[13] = 0xAA; // a 0F replaced: the run restarts 11 bytes short of the 00
    parse(stream);
    EXPECT_TRUE(host.deliveries.empty());
}

TEST_P(ParserCore, DeliversTheCallbackContract) {
    Bytes stream;
    appendSampleFrame(stream, 9);
    parse(stream);
    ASSERT_EQ(host.deliveries.size(), 1U);
    const Delivery& d = host.deliveries[0];
    EXPECT_EQ(d.count, 512);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.iqOffset, 0.0F);
    EXPECT_EQ(d.data, zef::parserState.sampleBody.data());
    EXPECT_EQ(d.frameNumber, 9);
}

TEST_P(ParserCore, BackToBackFramesArriveInOrder) {
    Bytes stream;
    for (std::uint32_t n = 0; n < 20; ++n) {
        appendSampleFrame(stream, n);
    }
    parse(stream);
    std::vector<std::int64_t> expected;
    for (std::int64_t n = 0; n < 20; ++n) {
        expected.push_back(n);
    }
    EXPECT_EQ(deliveredFrameNumbers(), expected);
}

TEST_P(ParserCore, FrameSplitOverThreeChunksIsDeliveredOnTheLastCrcByte) {
    const std::size_t size = sim::frameSize(sim::kSampleBodySize);
    struct Split {
        std::size_t first, second;
    };
    const Split splits[] = {{1000, 2000}, {25, size - 1}, {size - 2, size - 1}, {1, 2}};
    for (const Split& split : splits) {
        SCOPED_TRACE(std::to_string(split.first) + "/" + std::to_string(split.second));
        resetAll();
        Bytes stream;
        appendSampleFrame(stream, 3);
        ASSERT_EQ(stream.size(), size);
        const std::span<const std::uint8_t> all(stream);
        parse(all.subspan(0, split.first));
        parse(all.subspan(split.first, split.second - split.first));
        EXPECT_TRUE(host.deliveries.empty());
        parse(all.subspan(split.second));
        EXPECT_EQ(deliveredFrameNumbers(), std::vector<std::int64_t>{3});
    }
}

TEST_P(ParserCore, CorruptedFrameIsDroppedAndTheNextDelivered) {
    const std::size_t typeAt = sim::kPreambleBytes + 1;
    const std::size_t crcAt = typeAt + 1 + sim::kSampleBodySize;
    struct Case {
        const char* name;
        std::size_t offset;
    };
    const Case cases[] = {{"type byte", typeAt},
                          {"first body byte", typeAt + 1},
                          {"middle body byte", typeAt + 1000},
                          {"last body byte", crcAt - 1},
                          {"CRC low byte", crcAt},
                          {"CRC high byte", crcAt + 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetAll();
        Bytes stream;
        appendSampleFrame(stream, 4);
        stream[c.offset] ^= 0x01;
        appendSampleFrame(stream, 5);
        parse(stream);
        EXPECT_EQ(deliveredFrameNumbers(), std::vector<std::int64_t>{5});
    }
}

TEST_P(ParserCore, AnyTypeButStatusStartsASampleFrame) {
    const std::uint8_t types[] = {0x00, 0xFF, 0x01, 0x59, 0x5B, 0xAA};
    for (const std::uint8_t type : types) {
        SCOPED_TRACE(static_cast<int>(type));
        resetAll();
        Bytes stream;
        appendSampleFrame(stream, 6, type);
        parse(stream);
        EXPECT_EQ(deliveredFrameNumbers(), std::vector<std::int64_t>{6});
    }
    resetAll();
    Bytes stream;
    appendSampleFrame(stream, 6, sim::kStatusType);
    parse(stream);
    EXPECT_TRUE(host.deliveries.empty());
}

TEST_P(ParserCore, SyncInsideABodyAbandonsTheFrame) {
    struct Case {
        const char* name;
        std::size_t embeddedRun;
        bool outerDelivered;
    };
    const Case cases[] = {{"24-byte run and 00", 24, false},
                          {"23-byte run and 00", 23, true},
                          {"30-byte run and 00", 30, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetAll();
        std::array<std::uint8_t, sim::kSampleBodySize> body{};
        sim::writePatternBody(body.data(), 8);
        sim::writePreamble(body.data() + 100, c.embeddedRun);
        Bytes stream;
        sim::appendFrame(stream, sim::kSampleType, body);
        appendSampleFrame(stream, 9);
        parse(stream);
        const std::vector<std::int64_t> expected =
            c.outerDelivered ? std::vector<std::int64_t>{-1, 9} : std::vector<std::int64_t>{9};
        EXPECT_EQ(deliveredFrameNumbers(), expected);
    }
}

TEST_P(ParserCore, StatusFrameInsideASampleBodyIsProcessed) {
    const zef::CalibrationBlock zero{};
    const auto status = sim::statusBody(sim::kStateReady, 0x1234, zero, zero);
    Bytes inner;
    sim::appendFrame(inner, sim::kStatusType, status);
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    std::copy(inner.begin(), inner.end(), body.begin() + 10);
    Bytes stream;
    sim::appendFrame(stream, sim::kSampleType, body);
    parse(stream);
    EXPECT_TRUE(host.deliveries.empty());
    EXPECT_TRUE(zef::deviceState.deviceReady.load());
    EXPECT_EQ(zef::deviceState.deviceModel.load(), 0x1234);
}

TEST_P(ParserCore, DeliveryFollowsCallbackSetAndStreaming) {
    struct Case {
        bool callbackSet, streaming, nullCallback;
        std::size_t delivered;
    };
    const Case cases[] = {{true, true, false, 1},
                          {true, false, false, 0},
                          {false, true, false, 0},
                          {false, false, false, 0},
                          {true, true, true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.callbackSet) + std::to_string(c.streaming) +
                     std::to_string(c.nullCallback));
        resetAll();
        zef::deviceState.callbackSet.store(c.callbackSet);
        zef::deviceState.streaming.store(c.streaming);
        if (c.nullCallback) {
            zef::deviceState.hostCallback.store(nullptr);
        }
        Bytes stream;
        appendSampleFrame(stream, 1);
        parse(stream);
        EXPECT_EQ(host.deliveries.size(), c.delivered);
    }
}

TEST_P(ParserCore, StopAndStartSwitchDeliveryBetweenChunks) {
    Bytes first, second, third;
    appendSampleFrame(first, 1);
    appendSampleFrame(second, 2);
    appendSampleFrame(third, 3);
    parse(first);
    zef::deviceState.streaming.store(false);
    parse(second);
    zef::deviceState.streaming.store(true);
    parse(third);
    EXPECT_EQ(deliveredFrameNumbers(), (std::vector<std::int64_t>{1, 3}));
}

TEST_P(ParserCore, TerminateRequestStopsBeforeTheNextByte) {
    Bytes stream;
    appendSampleFrame(stream, 1);
    appendSampleFrame(stream, 2);
    host.duringCallback = [this] { worker_.requestTerminate(); };
    parse(stream);
    EXPECT_EQ(deliveredFrameNumbers(), std::vector<std::int64_t>{1});
    // Nothing of the second frame was looked at.
    EXPECT_EQ(zef::parserState.phase, zef::ParserPhase::OutsideFrame);
    EXPECT_EQ(zef::parserState.previousByte, stream[sim::frameSize(sim::kSampleBodySize) - 1]);
}

} // namespace

// Status frames: device flags, model word, and the two calibration blocks
// each taken only under its own CRC.
#include "parser_support.h"

#include "plugin/device_state.h"

#include <gtest/gtest.h>

namespace {

using namespace parser_test;
namespace sim = zef::sim;

zef::CalibrationBlock block(std::uint8_t fill, bool sealed) {
    zef::CalibrationBlock b{};
    b.fill(fill);
    if (sealed) {
        sim::sealBlock(b);
    }
    return b;
}

struct Case {
    const char* name;
    std::uint8_t state;
    bool sealA, sealB, corruptFrame;
    bool ready, acked, modelStored, takesA, takesB;
};

const Case kCases[] = {
    {"ready, both blocks bad", 2, false, false, false, true, false, true, false, false},
    {"ready, A good, B bad", 2, true, false, false, true, false, true, true, false},
    {"ready, A bad, B good", 2, false, true, false, true, false, true, false, true},
    {"acknowledged, both good", 3, true, true, false, false, true, true, true, true},
    {"other state code", 5, true, true, false, false, false, true, true, true},
    {"frame CRC bad", 2, true, true, true, false, false, false, false, false},
};

TEST(StatusFrame, UpdatesDeviceStateAsTheFrameAndBlocksAllow) {
    const zef::CalibrationBlock previousA = block(0x11, true);
    const zef::CalibrationBlock previousB = block(0x22, true);
    zef::DeviceState& state = zef::deviceState;
    IdleWorker worker;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        resetAll();
        state.deviceModel.store(0x0101);
        state.calibrationA = previousA;
        state.calibrationB = previousB;
        const zef::CalibrationBlock sentA = block(0xA5, c.sealA);
        const zef::CalibrationBlock sentB = block(0x5B, c.sealB);
        std::vector<std::uint8_t> stream;
        sim::appendFrame(stream, sim::kStatusType, sim::statusBody(c.state, 0xBEEF, sentA, sentB));
        if (c.corruptFrame) {
            stream[sim::kPreambleBytes + 2] ^= 0x80U;
        }
        zef::parseBytes(zef::parserState, stream, worker);

        EXPECT_EQ(state.deviceReady.load(), c.ready);
        EXPECT_EQ(state.settingsAcked.load(), c.acked);
        EXPECT_EQ(state.deviceModel.load(), c.modelStored ? 0xBEEF : 0x0101);
        EXPECT_EQ(state.calibrationA, c.takesA ? sentA : previousA);
        EXPECT_EQ(state.calibrationB, c.takesB ? sentB : previousB);
        EXPECT_TRUE(host.deliveries.empty());
    }
}

TEST(StatusFrame, FlagsAreNeverLoweredByLaterFrames) {
    const zef::CalibrationBlock zero{};
    resetAll();
    std::vector<std::uint8_t> stream;
    sim::appendFrame(stream, sim::kStatusType, sim::statusBody(2, 1, zero, zero));
    sim::appendFrame(stream, sim::kStatusType, sim::statusBody(3, 2, zero, zero));
    sim::appendFrame(stream, sim::kStatusType, sim::statusBody(0, 3, zero, zero));
    IdleWorker worker;
    zef::parseBytes(zef::parserState, stream, worker);
    EXPECT_TRUE(zef::deviceState.deviceReady.load());
    EXPECT_TRUE(zef::deviceState.settingsAcked.load());
    EXPECT_EQ(zef::deviceState.deviceModel.load(), 3);
}

} // namespace

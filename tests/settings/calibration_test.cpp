#include "calibration_points.h"
#include "main_thread/calibration.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace {

using zef::CalibrationRecord;
using zef::test::setFivePoints;
using zef::test::setThreePoints;
using zef::test::setTwoPoints;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(RoundHalfAway, RoundsHalvesAwayFromZero) {
    struct {
        double value;
        std::int32_t rounded;
    } const cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {-1.5, -2},
        {-0.4, 0},
        {0.0, 0},
        {-0.0, 0},
        {0.5, 1},
        {-0.5, -1},
        {0.49, 0},
        {1.4, 1},
        {-2.6, -3},
        {31539.2, 31539},
        // Only the low 32 bits of the 64-bit result are kept.
        {2147483648.0, INT32_MIN},
        {4294967299.4, 3},
        {-4294967296.0, 0},
        // Largest doubles on either side of zero that still fit in 64 bits.
        {9223372036854774784.0, -1024},
        {-9223372036854775808.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zef::roundHalfAway(c.value), c.rounded) << c.value;
    }
}

// Out of the 64-bit range the result is clamped to it (low 32 bits of
// INT64_MAX are -1, of INT64_MIN 0); NaN counts as 0.
TEST(RoundHalfAway, ValuesBeyondSixtyFourBitsAreWellDefined) {
    struct {
        double value;
        std::int32_t rounded;
    } const cases[] = {
        {9223372036854775808.0, -1},
        {1e300, -1},
        {kInf, -1},
        {-9223372036854777856.0, 0},
        {-1e300, 0},
        {-kInf, 0},
        {kNaN, 0},
        {-kNaN, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zef::roundHalfAway(c.value), c.rounded) << c.value;
    }
}

TEST(TwoPointCode, MapsTheLineThroughBothPoints) {
    struct {
        std::uint16_t low;
        std::uint16_t high;
        std::int32_t value;
        std::int32_t code;
    } const cases[] = {
        {0, 0, 32768, 0x8000}, // equal points: fallback
        {1234, 1234, 0, 0x8000},      {30000, 36000, 30000, 9000},  {30000, 36000, 36000, 18000},
        {30000, 36000, 32768, 13152}, {36000, 30000, 32768, 13848}, // swapped points: negative span
        {100, 200, 32768, 2949120},                                 // not limited to 16 bits
        {60000, 0, 32768, 13085}, // points are unsigned: 60000, not -5536
    };
    for (const auto& c : cases) {
        CalibrationRecord record;
        setTwoPoints(record, c.low, c.high);
        EXPECT_EQ(zef::twoPointCode(record, c.value), c.code)
            << c.low << "/" << c.high << " at " << c.value;
    }
}

TEST(ThreePointCode, TheArgumentsSignPicksTheLine) {
    struct {
        std::int16_t mid;
        std::int16_t low;
        std::int16_t high;
        std::int32_t hundredths;
        std::uint16_t code;
    } const cases[] = {
        {0, 0, 0, 0, 0x8000},
        {0, -100, 100, 10000, 0xE000},
        {0, -100, 100, -10000, 0x2000},
        {0, -100, 100, 0, 0x8000},
        {5, -95, 105, 0, 31539},    // 31539.2
        {5, -95, 105, -1, 31537},   // lower span
        {200, 0, 300, 0, 0},        // -16384 limited
        {-200, 0, -100, 0, 0xFFFF}, // 81920 limited
        // Only the span on the argument's side is tested.
        {50, 0, 50, 0, 0x8000},
        {50, 0, 50, -1, 8187},
        {50, 50, 100, -1, 0x8000},
        {50, 50, 100, 0, 8192},
    };
    for (const auto& c : cases) {
        CalibrationRecord record;
        setThreePoints(record, c.mid, c.low, c.high);
        EXPECT_EQ(zef::threePointCode(record, c.hundredths), c.code)
            << c.mid << "/" << c.low << "/" << c.high << " at " << c.hundredths;
    }
}

// A rounded value past 32 bits is limited, not wrapped back into 0..65535.
TEST(ThreePointCode, HugeResultsSaturate) {
    CalibrationRecord record;
    setThreePoints(record, 0, -1, 1);
    EXPECT_EQ(zef::threePointCode(record, INT32_MAX), 0xFFFF);
    EXPECT_EQ(zef::threePointCode(record, INT32_MIN), 0);
}

TEST(FivePointCode, FollowsTheFirstSegmentWhoseUpperPointIsNotBelow) {
    using Points = std::array<std::int16_t, 5>;
    struct {
        Points points;
        double value;
        std::uint16_t code;
    } const cases[] = {
        {{0, 0, 0, 0, 0}, 0.0, 0x8000},
        {{-200, -100, 0, 100, 200}, 0.0, 32768}, // at P2: segment 2
        {{-200, -100, 0, 100, 200}, 0.5, 36864},
        {{-200, -100, 0, 100, 200}, -1.0, 24576},
        {{-200, -100, 0, 100, 200}, 1.0, 40960},
        {{-200, -100, 0, 100, 200}, 2.0, 49152},
        {{-200, -100, 0, 100, 200}, 3.0, 57344},  // beyond P4: segment 4 extended
        {{-200, -100, 0, 100, 200}, 10.0, 65535}, // 114688 limited
        {{10, 20, 30, 40, 50}, 0.0, 8192},        // below P0: segment 1 extended
        {{100, 101, 102, 103, 104}, 0.0, 0},      // -802816 limited
        {{1, 2, 2, 3, 4}, 0.0, 0x8000},           // one equal neighbouring pair
        {{1, 2, 2, 3, 4}, 5.0, 0x8000},
        {{1, 2, 2, 3, 4}, -5.0, 0x8000},
        {{1, 2, 3, 4, 4}, 0.0, 0x8000},
        {{0, 100, 0, 100, 0}, 0.0, 16384}, // equal points that are not neighbours
        // Descending points: still the first segment whose upper point is not below t.
        {{200, 100, 0, -100, -200}, 0.0, 32768},
        {{200, 100, 0, -100, -200}, -1.5, 45056},
        {{200, 100, 0, -100, -200}, 1.5, 20480},
    };
    for (const auto& c : cases) {
        CalibrationRecord record;
        setFivePoints(record, c.points);
        EXPECT_EQ(zef::fivePointCode(record, c.value), c.code)
            << c.points[0] << ".." << c.points[4] << " at " << c.value;
    }
}

TEST(FivePointCode, NonFiniteAndHugeArgumentsAreLimited) {
    CalibrationRecord record;
    setFivePoints(record, {-200, -100, 0, 100, 200});
    struct {
        double value;
        std::uint16_t code;
    } const cases[] = {
        {1e300, 0xFFFF}, {kInf, 0xFFFF}, {-1e300, 0},
        {-kInf, 0},      {kNaN, 0},      {1e8, 0xFFFF}, // 8.2e11: past 32 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zef::fivePointCode(record, c.value), c.code) << c.value;
    }
}

TEST(PassThroughBytes, CopiesBlockBWithTwoPairsAdjusted) {
    CalibrationRecord record;
    for (std::size_t i = 0; i < zef::kPassThroughSize; ++i) {
        record.calibrationB[zef::kPassThroughOffset + i] = static_cast<std::uint8_t>(i + 1);
    }
    record.calibrationB[7] = 0xEE; // neighbours are not sent
    record.calibrationB[21] = 0xEE;
    record.calibrationA[zef::kPairAdjust1Offset] = 0x20;
    record.calibrationA[zef::kPairAdjust2Offset] = 0x30;
    const std::array<std::uint8_t, zef::kPassThroughSize> expected = {
        0x01, 0x02, 0x23, 0x24, 0x05, 0x06, 0x37, 0x38, 0x09, 0x0A, 0x0B, 0x0C, 0x0D};
    EXPECT_EQ(zef::passThroughBytes(record), expected);
}

TEST(PassThroughBytes, AdjustedBytesDropTheCarry) {
    CalibrationRecord record;
    record.calibrationB[10] = 0xF0;
    record.calibrationB[15] = 0xFF;
    record.calibrationA[zef::kPairAdjust1Offset] = 0x20;
    record.calibrationA[zef::kPairAdjust2Offset] = 0x02;
    const auto bytes = zef::passThroughBytes(record);
    EXPECT_EQ(bytes[2], 0x10); // frame byte 42
    EXPECT_EQ(bytes[3], 0x20);
    EXPECT_EQ(bytes[6], 0x02);
    EXPECT_EQ(bytes[7], 0x01);
}

TEST(Calibration, ZeroRecordFallsBackEverywhere) {
    const CalibrationRecord record;
    EXPECT_EQ(zef::twoPointCode(record, 32768), 0x8000);
    EXPECT_EQ(zef::threePointCode(record, 0), 0x8000);
    EXPECT_EQ(zef::fivePointCode(record, 0.0), 0x8000);
    const std::array<std::uint8_t, zef::kPassThroughSize> zeros{};
    EXPECT_EQ(zef::passThroughBytes(record), zeros);
}

} // namespace

#include "calibration.h"

#include <cmath>
#include <limits>

namespace zef {

namespace {

constexpr std::size_t kFivePoints = 5;
constexpr double kSegmentCodes = 8192.0;
constexpr double kFirstSegmentBase = 16384.0;

std::uint16_t readU16(const CalibrationBlock& block, std::size_t offset) {
    return static_cast<std::uint16_t>(block[offset] | block[offset + 1] << 8U);
}

std::int16_t readS16(const CalibrationBlock& block, std::size_t offset) {
    return static_cast<std::int16_t>(readU16(block, offset));
}

// Casting a double outside the 64-bit range (or NaN) to an integer is
// undefined, so such values are clamped first; the cast truncates toward zero.
std::int64_t truncateToInt64(double value) {
    constexpr double kTwoPow63 = 9223372036854775808.0;
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kTwoPow63) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < -kTwoPow63) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

std::int64_t roundHalfAway64(double value) {
    return truncateToInt64(value < 0.0 ? value - 0.5 : value + 0.5);
}

std::uint16_t limitCode(std::int64_t code) {
    if (code < 0) {
        return 0;
    }
    if (code > 0xFFFF) {
        return 0xFFFF;
    }
    return static_cast<std::uint16_t>(code);
}

} // namespace

std::int32_t roundHalfAway(double value) {
    const auto bits = static_cast<std::uint64_t>(roundHalfAway64(value));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFU));
}

std::int32_t twoPointCode(const CalibrationRecord& record, std::int32_t value) {
    const std::int32_t low = readU16(record.calibrationA, kTwoPointLowOffset);
    const std::int32_t high = readU16(record.calibrationA, kTwoPointHighOffset);
    const std::int32_t span = high - low;
    if (span == 0) {
        return kMiddleCode;
    }
    const double middle = static_cast<double>(low + high) * 0.5;
    return roundHalfAway(
        (static_cast<double>(value) - middle) * (9000.0 / static_cast<double>(span)) + 13500.0);
}

std::uint16_t threePointCode(const CalibrationRecord& record, std::int32_t hundredths) {
    const std::int32_t mid = readS16(record.calibrationB, kThreePointMidOffset);
    const std::int32_t low = readS16(record.calibrationB, kThreePointLowOffset);
    const std::int32_t high = readS16(record.calibrationB, kThreePointHighOffset);
    const std::int32_t span = hundredths < 0 ? mid - low : high - mid;
    if (span == 0) {
        return kMiddleCode;
    }
    const double code = (static_cast<double>(hundredths) * 0.01 - static_cast<double>(mid)) *
                            (24576.0 / static_cast<double>(span)) +
                        32768.0;
    return limitCode(roundHalfAway64(code));
}

std::uint16_t fivePointCode(const CalibrationRecord& record, double value) {
    std::array<std::int32_t, kFivePoints> points{};
    for (std::size_t i = 0; i < kFivePoints; ++i) {
        points[i] = readS16(record.calibrationB, kFivePoint0Offset + 2 * i);
    }
    for (std::size_t i = 0; i + 1 < kFivePoints; ++i) {
        if (points[i] == points[i + 1]) {
            return kMiddleCode;
        }
    }
    const double t = 100.0 * value;
    // The first segment whose upper point is not below t; the last one
    // takes everything above (and NaN, which compares false throughout).
    std::size_t segment = kFivePoints - 2;
    for (std::size_t s = 0; s + 2 < kFivePoints; ++s) {
        if (t <= static_cast<double>(points[s + 1])) {
            segment = s;
            break;
        }
    }
    const std::int32_t lower = points[segment];
    const std::int32_t span = points[segment + 1] - lower;
    const double base = kFirstSegmentBase + kSegmentCodes * static_cast<double>(segment);
    const double code =
        ((t - static_cast<double>(lower)) * kSegmentCodes) / static_cast<double>(span) + base;
    return limitCode(roundHalfAway64(code));
}

std::array<std::uint8_t, kPassThroughSize> passThroughBytes(const CalibrationRecord& record) {
    const CalibrationBlock& b = record.calibrationB;
    const std::uint8_t adjust1 = record.calibrationA[kPairAdjust1Offset];
    const std::uint8_t adjust2 = record.calibrationA[kPairAdjust2Offset];
    std::array<std::uint8_t, kPassThroughSize> bytes{};
    for (std::size_t i = 0; i < kPassThroughSize; ++i) {
        bytes[i] = b[kPassThroughOffset + i];
    }
    // Block B bytes 10, 11 and 14, 15; the carry is dropped.
    bytes[2] = static_cast<std::uint8_t>(bytes[2] + adjust1);
    bytes[3] = static_cast<std::uint8_t>(bytes[3] + adjust1);
    bytes[6] = static_cast<std::uint8_t>(bytes[6] + adjust2);
    bytes[7] = static_cast<std::uint8_t>(bytes[7] + adjust2);
    return bytes;
}

} // namespace zef

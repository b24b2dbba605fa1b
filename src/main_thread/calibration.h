// The device's calibration record and the conversions that turn fixed
// operating points into 16-bit device codes for the settings frame. Every
// function is pure: the record in, a value out.
#pragma once

#include "plugin/device_state.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zef {

// Both blocks as last received, each closed by its own CRC-16 (offsets 62-63).
struct CalibrationRecord {
    CalibrationBlock calibrationA{};
    CalibrationBlock calibrationB{};
};

// Block A: unsigned points, pair adjustments.
inline constexpr std::size_t kTwoPointLowOffset = 0;
inline constexpr std::size_t kTwoPointHighOffset = 2;
inline constexpr std::size_t kPairAdjust1Offset = 40;
inline constexpr std::size_t kPairAdjust2Offset = 41;
// Block B: signed points, bytes passed through.
inline constexpr std::size_t kThreePointMidOffset = 0;
inline constexpr std::size_t kThreePointLowOffset = 2;
inline constexpr std::size_t kThreePointHighOffset = 4;
inline constexpr std::size_t kPassThroughOffset = 8;
inline constexpr std::size_t kPassThroughSize = 13;
inline constexpr std::size_t kFivePoint0Offset = 22; // fivePoint1..4 follow, 2 bytes apart

// What every conversion returns when its points cannot define a line.
inline constexpr std::uint16_t kMiddleCode = 0x8000;

// v - 0.5 below zero, else v + 0.5, truncated toward zero to 64 bits; the low
// 32 bits are returned. So 2.5 -> 3, -2.5 -> -3, -0.4 -> 0. A value beyond the
// 64-bit range is clamped to it first and NaN counts as 0, so no input is
// undefined; every in-range result is unchanged.
std::int32_t roundHalfAway(double value);

// The line through (twoPointLow, 9000) and (twoPointHigh, 18000); 0x8000 when
// the points are equal. Not limited: callers keep what bits they need.
std::int32_t twoPointCode(const CalibrationRecord& record, std::int32_t value);

// Two lines meeting at (threePointMid, 0x8000), reaching 0x2000 at
// threePointLow and 0xE000 at threePointHigh. `hundredths` is 100 times the
// unit of the points; its sign, not its position against the middle, picks
// the line. 0x8000 when that line's span is 0; the rounded value is limited
// to 0..65535 before it is narrowed, so a huge one cannot wrap back in range.
std::uint16_t threePointCode(const CalibrationRecord& record, std::int32_t hundredths);

// Four segments of 8192 codes through fivePoint0..4 (0x4000..0xC000), the
// first whose upper point is not below 100 x `value`, the outer ones
// extended. 0x8000 when any neighbouring pair is equal; limited to 0..65535
// as threePointCode is.
std::uint16_t fivePointCode(const CalibrationRecord& record, double value);

// Block B bytes 8 to 20 in order; bytes 10 and 11 plus pairAdjust1, 14 and 15
// plus pairAdjust2, each modulo 256.
std::array<std::uint8_t, kPassThroughSize> passThroughBytes(const CalibrationRecord& record);

} // namespace zef

// Writes calibration points into a record the way the device lays them out:
// 16-bit little-endian, block A unsigned, block B signed.
#pragma once

#include "main_thread/calibration.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zef::test {

inline void putU16(CalibrationBlock& block, std::size_t offset, std::uint16_t value) {
    block[offset] = static_cast<std::uint8_t>(value & 0xFFU);
    block[offset + 1] = static_cast<std::uint8_t>(value >> 8U);
}

inline void putS16(CalibrationBlock& block, std::size_t offset, std::int16_t value) {
    putU16(block, offset, static_cast<std::uint16_t>(value));
}

inline void setTwoPoints(CalibrationRecord& record, std::uint16_t low, std::uint16_t high) {
    putU16(record.calibrationA, kTwoPointLowOffset, low);
    putU16(record.calibrationA, kTwoPointHighOffset, high);
}

inline void setThreePoints(CalibrationRecord& record, std::int16_t mid, std::int16_t low,
                           std::int16_t high) {
    putS16(record.calibrationB, kThreePointMidOffset, mid);
    putS16(record.calibrationB, kThreePointLowOffset, low);
    putS16(record.calibrationB, kThreePointHighOffset, high);
}

inline void setFivePoints(CalibrationRecord& record, const std::array<std::int16_t, 5>& points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
        putS16(record.calibrationB, kFivePoint0Offset + 2 * i, points[i]);
    }
}

} // namespace zef::test

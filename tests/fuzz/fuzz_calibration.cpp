// Fuzzes the calibration conversions on arbitrary records and arguments:
// no undefined behaviour (the sanitizers watch), codes within their limits,
// and the rounding consistent with a wider reference where one exists.
#include "main_thread/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Half away from zero in long double, for comparison where the double
// arithmetic is exact (below 2^52, and when v +- 0.5 needs no rounding).
std::int32_t referenceRound(double v) {
    const long double r = v < 0.0 ? std::ceil(static_cast<long double>(v) - 0.5L)
                                  : std::floor(static_cast<long double>(v) + 0.5L);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(r)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zef::CalibrationRecord record;
    const std::size_t blocks = std::min(size, std::size_t{128});
    std::memcpy(record.calibrationA.data(), data, std::min(blocks, std::size_t{64}));
    if (blocks > 64) {
        std::memcpy(record.calibrationB.data(), data + 64, blocks - 64);
    }
    std::int32_t integer = 0;
    double real = 0.0;
    if (size >= 128 + sizeof integer + sizeof real) {
        std::memcpy(&integer, data + 128, sizeof integer);
        std::memcpy(&real, data + 128 + sizeof integer, sizeof real);
    }

    (void)zef::twoPointCode(record, integer); // unlimited by design; must not trap
    (void)zef::threePointCode(record, integer);
    (void)zef::fivePointCode(record, real);
    (void)zef::passThroughBytes(record);
    (void)zef::roundHalfAway(real);
    // Where the half step was exact in a double, the rounding is the exact one.
    const double half = real < 0.0 ? -0.5 : 0.5;
    if (std::isfinite(real) && std::fabs(real) < 4.0e15 && (real + half) - half == real) {
        check(zef::roundHalfAway(real) == referenceRound(real));
    }

    // The frame's fixed arguments fall back to the middle code on flat points.
    if (std::memcmp(record.calibrationA.data(), record.calibrationA.data() + 2, 2) == 0) {
        check(zef::twoPointCode(record, 32768) == 0x8000);
    }
    return 0;
}

#include "tuning.h"

#include <cmath>

namespace zef {

std::int64_t TuningWord(std::int32_t frequencyHz, std::int32_t offsetHz) {
    // Both operands are 32-bit, so the sum is exact in a double and the
    // product stays far inside the 64-bit range.
    const double hz = static_cast<double>(frequencyHz) + static_cast<double>(offsetHz);
    return static_cast<std::int64_t>(std::trunc(hz * kTuningWordPerHz + 0.5));
}

std::uint8_t ModeCode(char modeLetter) {
    switch (modeLetter) {
    case 'C':
        return 1;
    case 'U':
        return 2;
    case 'L':
        return 3;
    case 'A':
        return 4;
    case 'F':
        return 5;
    case 'E':
        return 6;
    default:
        return 0;
    }
}

std::int32_t modeOffsetHz(std::uint8_t modeCode) {
    constexpr std::int32_t kSidebandOffsetHz = 1717;
    if (modeCode == 2) {
        return kSidebandOffsetHz;
    }
    if (modeCode == 3) {
        return -kSidebandOffsetHz;
    }
    return 0;
}

} // namespace zef

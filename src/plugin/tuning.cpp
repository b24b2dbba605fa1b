#include "tuning.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace zef {

std::int64_t TuningWord(std::int32_t frequencyHz, std::int32_t offsetHz) {
    // Both operands are 32-bit, so the sum is exact in a double and the
    // product stays far inside the 64-bit range.
    const double hz = static_cast<double>(frequencyHz) + static_cast<double>(offsetHz);
    return static_cast<std::int64_t>(std::trunc(hz * kTuningWordPerHz + 0.5));
}

namespace {
constexpr std::array<char, 6> kModeLetters = {'C', 'U', 'L', 'A', 'F', 'E'}; // codes 1 to 6
} // namespace

std::uint8_t ModeCode(char modeLetter) {
    for (std::size_t i = 0; i < kModeLetters.size(); ++i) {
        if (kModeLetters[i] == modeLetter) {
            return static_cast<std::uint8_t>(i + 1);
        }
    }
    return 0;
}

char ModeLetter(std::uint8_t modeCode) {
    return modeCode >= 1 && modeCode <= kModeLetters.size() ? kModeLetters[modeCode - 1U] : '\0';
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

// Frequencies and mode letters turned into what the settings frame carries.
#pragma once

#include <cstdint>

namespace zef {

// 2^32 / 200 MHz: phase increment per hertz of the 200 MHz synthesiser.
inline constexpr double kTuningWordPerHz = 21.47483648;

// (f + offset) x 21.47483648 + 0.5, truncated toward zero: rounds positive
// values to nearest, moves negative ones toward zero. The low 32 bits are sent.
std::int64_t TuningWord(std::int32_t frequencyHz, std::int32_t offsetHz = 0);

// "C" 1, "U" 2, "L" 3, "A" 4, "F" 5, "E" 6; any other character 0.
std::uint8_t ModeCode(char modeLetter);

// The letter of a mode code; '\0' for 0 and codes without one.
char ModeLetter(std::uint8_t modeCode);

// +1717 Hz for upper sideband (2), -1717 Hz for lower sideband (3), else 0.
std::int32_t modeOffsetHz(std::uint8_t modeCode);

} // namespace zef

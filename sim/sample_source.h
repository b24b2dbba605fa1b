// The samples the gateware puts in its sample frames: the test pattern, or a
// carrier mixed down with the last local-oscillator word plus low noise.
#pragma once

#include "sim/environment.h"

#include <cstdint>

namespace zef::sim {

inline constexpr double kTuningWordPerHz = 21.47483648;

class SampleSource {
  public:
    void restart() { phase_ = 0.0; }
    // Fills a 2048-byte body for sample frame `frameNumber`.
    void writeBody(std::uint8_t* body, std::uint64_t frameNumber, Environment& env);

  private:
    double phase_ = 0.0; // radians, kept across frames
};

} // namespace zef::sim

// Deterministic pseudo-random numbers (SplitMix64) for faults and noise, so a
// test sees the same damaged bytes on every run.
#pragma once

#include <cstdint>

namespace zef::sim {

class Prng {
  public:
    explicit Prng(std::uint64_t seed = 0) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31U);
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11U) * 0x1.0p-53; }

    bool chance(double probability) { return probability > 0.0 && uniform() < probability; }

  private:
    std::uint64_t state_;
};

} // namespace zef::sim

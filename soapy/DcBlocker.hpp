// Automatic DC removal (SoapySDR's DC offset mode) on the samples a reader
// takes: a first-order high-pass on I and on Q that follows the mean with a
// corner of 10 Hz, so that a carrier 1 kHz off centre passes untouched.
// Primed with the first pair after a reset, so that a constant offset is
// gone from the first sample and a signal without one sees only a short
// settling.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace zef::soapy {

class DcBlocker {
  public:
    DcBlocker(double cornerHz, double sampleRate)
        : step_(1.0 - std::exp(-2.0 * std::numbers::pi * cornerHz / sampleRate)) {}

    void reset() { primed_ = false; }

    // In place, on `pairs` interleaved I/Q values.
    void apply(float* iq, std::size_t pairs) {
        prime(iq, pairs);
        for (std::size_t i = 0; i < 2 * pairs; ++i) {
            iq[i] = static_cast<float>(remove(i % 2, iq[i]));
        }
    }
    void apply(std::int16_t* iq, std::size_t pairs) {
        prime(iq, pairs);
        for (std::size_t i = 0; i < 2 * pairs; ++i) {
            const double out = std::round(remove(i % 2, iq[i]));
            iq[i] = static_cast<std::int16_t>(std::clamp(out, -32768.0, 32767.0));
        }
    }

  private:
    template <typename T> void prime(const T* iq, std::size_t pairs) {
        if (!primed_ && pairs != 0) {
            mean_[0] = iq[0];
            mean_[1] = iq[1];
            primed_ = true;
        }
    }

    double remove(std::size_t part, double value) {
        mean_[part] += step_ * (value - mean_[part]);
        return value - mean_[part];
    }

    double step_;
    double mean_[2] = {0.0, 0.0};
    bool primed_ = false;
};

} // namespace zef::soapy

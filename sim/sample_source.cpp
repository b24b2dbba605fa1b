#include "sample_source.h"

#include "sim/device_frames.h"
#include "zef/sample_rate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zef::sim {

namespace {

constexpr double kNoisePeak = 2.0; // counts

std::uint16_t toSample(double value) {
    const double limited = std::clamp(std::round(value), -32768.0, 32767.0);
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(limited));
}

double noise(Prng& rng) {
    return (rng.uniform() + rng.uniform() - 1.0) * kNoisePeak;
}

} // namespace

void SampleSource::writeBody(std::uint8_t* body, std::uint64_t frameNumber, Environment& env) {
    if (env.signal.kind != ZEFSIM_SIGNAL) {
        writePatternBody(body, static_cast<std::uint32_t>(frameNumber));
        return;
    }
    const double loHz = static_cast<double>(env.loWord) / kTuningWordPerHz;
    const double offsetHz =
        env.signal.followsLo ? env.signal.carrierHz : env.signal.carrierHz - loHz;
    const double step = 2.0 * std::numbers::pi * offsetHz / static_cast<double>(kSampleRate);
    const double amplitude = env.signal.amplitude;
    for (std::size_t i = 0; i < kSampleBodySize / 4; ++i) {
        const std::uint16_t inPhase = toSample(amplitude * std::cos(phase_) + noise(env.noiseRng));
        const std::uint16_t quadrature =
            toSample(amplitude * std::sin(phase_) + noise(env.noiseRng));
        body[4 * i + 0] = static_cast<std::uint8_t>(inPhase);
        body[4 * i + 1] = static_cast<std::uint8_t>(inPhase >> 8U);
        body[4 * i + 2] = static_cast<std::uint8_t>(quadrature);
        body[4 * i + 3] = static_cast<std::uint8_t>(quadrature >> 8U);
        phase_ += step;
    }
    phase_ = std::remainder(phase_, 2.0 * std::numbers::pi);
}

} // namespace zef::sim

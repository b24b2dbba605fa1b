#include "fft_peak.h"

#include <kissfft/kissfft.hh>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zef::host {

namespace {

constexpr double kFullScale = 32767.0;
constexpr double kFloorDb = -300.0;

double toDb(double power) {
    return power > 0.0 ? 10.0 * std::log10(power) : kFloorDb;
}

} // namespace

SpectrumAnalyzer::SpectrumAnalyzer(std::uint32_t sampleRate, std::size_t fftSize)
    : sampleRate_(sampleRate), size_(fftSize),
      fft_(std::make_unique<kissfft<double>>(fftSize, false)), window_(fftSize), segment_(fftSize),
      spectrum_(fftSize), power_(fftSize, 0.0) {
    for (std::size_t n = 0; n < size_; ++n) {
        window_[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                          static_cast<double>(size_));
    }
}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

void SpectrumAnalyzer::add(const std::int16_t* iq, std::size_t pairs) {
    for (std::size_t i = 0; i < pairs; ++i) {
        segment_[fill_] = {static_cast<double>(iq[2 * i]) * window_[fill_],
                           static_cast<double>(iq[2 * i + 1]) * window_[fill_]};
        if (++fill_ == size_) {
            transform();
            fill_ = 0;
        }
    }
}

void SpectrumAnalyzer::transform() {
    fft_->transform(segment_.data(), spectrum_.data());
    for (std::size_t k = 0; k < size_; ++k) {
        power_[k] += std::norm(spectrum_[k]);
    }
    ++transforms_;
}

std::optional<SpectralPeak> SpectrumAnalyzer::peak() const {
    if (transforms_ == 0) {
        return std::nullopt;
    }
    const auto strongest = std::max_element(power_.begin(), power_.end());
    const auto k = static_cast<std::size_t>(strongest - power_.begin());
    const double below = toDb(power_[(k + size_ - 1) % size_]);
    const double at = toDb(power_[k]);
    const double above = toDb(power_[(k + 1) % size_]);
    const double curvature = below - 2.0 * at + above;
    const double delta = curvature < 0.0 ? 0.5 * (below - above) / curvature : 0.0;
    const double peakDb = at - 0.25 * (below - above) * delta;

    // A complex tone of amplitude A gives |X| = A * N / 2 through a Hann window.
    const double fullScaleDb = toDb(std::pow(kFullScale * static_cast<double>(size_) / 2.0, 2.0));
    const double meanDb = peakDb - toDb(static_cast<double>(transforms_));

    const double half = static_cast<double>(size_) / 2.0;
    double bin = static_cast<double>(k) + delta;
    if (bin >= half) {
        bin -= static_cast<double>(size_);
    }
    return SpectralPeak{bin * static_cast<double>(sampleRate_) / static_cast<double>(size_),
                        meanDb - fullScaleDb};
}

} // namespace zef::host

// Averaged power spectrum of the recorded pairs, for the summary's strongest
// peak: Hann-windowed FFTs (kissfft), parabolic interpolation of the peak.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

template <typename Scalar> class kissfft;

namespace zef::host {

struct SpectralPeak {
    double offsetHz = 0.0;  // from the centre (the LO), negative below it
    double levelDbfs = 0.0; // 0 dBFS: a complex tone of amplitude 32767
};

class SpectrumAnalyzer {
  public:
    explicit SpectrumAnalyzer(std::uint32_t sampleRate, std::size_t fftSize = 4096);
    ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    void add(const std::int16_t* iq, std::size_t pairs);
    // Empty until one whole FFT's worth of pairs has arrived.
    [[nodiscard]] std::optional<SpectralPeak> peak() const;
    [[nodiscard]] std::size_t transforms() const { return transforms_; }

  private:
    void transform();

    std::uint32_t sampleRate_;
    std::size_t size_;
    std::unique_ptr<kissfft<double>> fft_;
    std::vector<double> window_;
    std::vector<std::complex<double>> segment_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> power_; // summed |X|^2 per bin
    std::size_t fill_ = 0;
    std::size_t transforms_ = 0;
};

} // namespace zef::host

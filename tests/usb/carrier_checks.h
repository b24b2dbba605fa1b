// Checks on a recording of the emulated instrument's carrier: raw int16
// I/Q pairs, the carrier a fixed offset from the LO.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace zef::usbtest {

inline std::vector<std::complex<double>> readIq(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::complex<double>> samples;
    std::int16_t pair[2];
    while (file.read(reinterpret_cast<char*>(pair), sizeof pair)) {
        samples.emplace_back(pair[0], pair[1]);
    }
    return samples;
}

// The carrier turns by the same angle from each sample to the next; a lost
// block of 512 would jump it by 0.86 of a turn.
inline double worstPhaseStep(const std::vector<std::complex<double>>& samples, double hz) {
    const double expected = 2.0 * std::numbers::pi * hz / 65104.0;
    double worst = 0.0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const double step = std::arg(samples[i] * std::conj(samples[i - 1]));
        worst = std::max(worst, std::abs(std::remainder(step - expected, 2.0 * std::numbers::pi)));
    }
    return worst;
}

} // namespace zef::usbtest

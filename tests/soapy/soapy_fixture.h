// The module's sources are built into these tests, so the "zef" driver
// registers in-process and SoapySDR::Device::make reaches the simulated
// instrument that the test links.
#pragma once

#include "plugin/device_state.h"
#include "sim/zef_sim.h"

#include <SoapySDR/Device.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace zef::test {

inline constexpr std::uint32_t kLocation = 0x2101;

inline zefsim_counters simCounters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

// The 32-bit test-pattern value of pair `i` in interleaved CS16 samples.
inline std::uint32_t patternValue(const std::int16_t* samples, std::size_t i) {
    return static_cast<std::uint16_t>(samples[2 * i]) |
           static_cast<std::uint32_t>(static_cast<std::uint16_t>(samples[2 * i + 1])) << 16U;
}

class SoapyInstrument : public testing::Test {
  protected:
    void SetUp() override {
        zefsim_reset();
        zefsim_add_device("ZEF418", kLocation, 0, 0);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            SoapySDR::Device::unmake(device_);
        }
    }

    SoapySDR::Device& open(const std::string& args = "driver=zef") {
        device_ = SoapySDR::Device::make(args);
        return *device_;
    }

    SoapySDR::Device* device_ = nullptr;
};

} // namespace zef::test

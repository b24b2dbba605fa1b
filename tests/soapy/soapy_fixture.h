// The module's sources are built into these tests, so the "zef" driver
// registers in-process and SoapySDR::Device::make reaches the simulated
// instrument that the test links.
#pragma once

#include "plugin/device_state.h"
#include "sim/zef_sim.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Logger.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zef::test {

inline constexpr std::uint32_t kLocation = 0x2101;

inline zefsim_counters simCounters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

// Waits until `done` holds, for at most `limit` (generous: a loaded machine
// may be slow, a correct module is not stuck).
template <typename Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The 32-bit test-pattern value of pair `i` in interleaved CS16 samples.
inline std::uint32_t patternValue(const std::int16_t* samples, std::size_t i) {
    return static_cast<std::uint16_t>(samples[2 * i]) |
           static_cast<std::uint32_t>(static_cast<std::uint16_t>(samples[2 * i + 1])) << 16U;
}

// What the module logs while one of these lives, debug level included.
class LogCapture {
  public:
    LogCapture() {
        current = this;
        SoapySDR::setLogLevel(SOAPY_SDR_DEBUG);
        SoapySDR::registerLogHandler(&keep);
    }
    ~LogCapture() {
        SoapySDR::registerLogHandler(nullptr);
        SoapySDR::setLogLevel(SOAPY_SDR_INFO);
        current = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Messages at `level` (at any level without one) that contain `text`.
    std::size_t count(SoapySDRLogLevel level, const std::string& text) {
        return count(text, level);
    }
    std::size_t count(const std::string& text, std::optional<SoapySDRLogLevel> level = {}) {
        std::lock_guard<std::mutex> guard(lock_);
        std::size_t n = 0;
        for (const auto& [at, message] : lines_) {
            n += (!level || at == *level) && message.find(text) != std::string::npos ? 1U : 0U;
        }
        return n;
    }

  private:
    static void keep(SoapySDRLogLevel level, const char* message) {
        std::lock_guard<std::mutex> guard(current->lock_);
        current->lines_.emplace_back(level, message);
    }
    static inline LogCapture* current = nullptr;
    std::mutex lock_;
    std::vector<std::pair<SoapySDRLogLevel, std::string>> lines_;
};

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

#include "LinkWatch.hpp"

#include "zef/instrument.h"

#include <SoapySDR/Logger.hpp>

#include <chrono>

namespace zef::soapy {

namespace {

// Blocks come every 8 ms; a quarter second of silence is worth a look. A
// gateware load is silent for longer, but its link answers.
constexpr std::uint64_t kSilenceBeforeCheckUs = 250000;
constexpr std::uint64_t kCheckEveryUs = 250000;
constexpr std::uint64_t kReopenEveryUs = 500000;

} // namespace

std::uint64_t steadyMicroseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void LinkWatch::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    lost_ = false;
    reopenFailureLogged_ = false;
    lastCheckUs_ = 0;
}

bool LinkWatch::lost() {
    std::lock_guard<std::mutex> guard(lock_);
    return lost_;
}

LinkWatch::Verdict LinkWatch::watch(std::uint64_t nowUs, std::uint64_t silentSinceUs) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!lost_) {
        if (nowUs - silentSinceUs < kSilenceBeforeCheckUs || nowUs - lastCheckUs_ < kCheckEveryUs) {
            return Verdict::Fine;
        }
        lastCheckUs_ = nowUs;
        const std::uint32_t status = instrument::checkLink();
        if (status == 0) {
            return Verdict::Fine;
        }
        lost_ = true;
        lostAtUs_ = nowUs;
        lastReopenUs_ = nowUs;
        reopenFailureLogged_ = false;
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "ZEF418: lost the instrument, %s; plug it back in and the stream resumes "
                       "by itself (until then readStream returns SOAPY_SDR_STREAM_ERROR)",
                       instrument::describeStatus(status).c_str());
        return Verdict::LostNow;
    }
    if (nowUs - lastReopenUs_ < kReopenEveryUs) {
        return Verdict::StillLost;
    }
    lastReopenUs_ = nowUs;
    const std::uint32_t status = instrument::start();
    if (status != 0) {
        if (!reopenFailureLogged_) {
            reopenFailureLogged_ = true;
            SoapySDR::logf(SOAPY_SDR_DEBUG, "ZEF418: reopening the instrument: %s; trying again",
                           instrument::describeStatus(status).c_str());
        }
        return Verdict::StillLost;
    }
    lost_ = false;
    SoapySDR::logf(SOAPY_SDR_INFO,
                   "ZEF418: the instrument is back after %.1f s; its gateware is loading again",
                   static_cast<double>(nowUs - lostAtUs_) / 1e6);
    return Verdict::Reopened;
}

} // namespace zef::soapy

// A stand-in ExtIO plug-in for zef-host's tests. FAKE_EXTIO_TONE delivers a
// complex tone 1 kHz above the LO in real time; FAKE_EXTIO_SILENT never
// delivers; FAKE_EXTIO_INCOMPLETE also lacks RawDataReady.
#include "plugin/extio_api.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

namespace {

constexpr std::size_t kBlockPairs = 512;
constexpr std::int32_t kRate = 65104;
constexpr double kToneOffsetHz = 1000.0;
constexpr double kAmplitude = 16384.0;

ExtIOCallback callback = nullptr;
std::atomic<bool> running{false};
std::thread deliverer;

[[maybe_unused]] void deliverTone() {
    std::array<std::int16_t, 2 * kBlockPairs> block{};
    const double step = 2.0 * std::numbers::pi * kToneOffsetHz / kRate;
    double phase = 0.0;
    auto due = std::chrono::steady_clock::now();
    while (running.load()) {
        for (std::size_t i = 0; i < kBlockPairs; ++i) {
            block[2 * i] = static_cast<std::int16_t>(std::lround(kAmplitude * std::cos(phase)));
            block[2 * i + 1] = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(phase)));
            phase = std::fmod(phase + step, 2.0 * std::numbers::pi);
        }
        callback(static_cast<int>(kBlockPairs), 0, 0.0F, block.data());
        due += std::chrono::microseconds(1000000LL * static_cast<long long>(kBlockPairs) / kRate);
        std::this_thread::sleep_until(due);
    }
}

void stopDelivery() {
    running.store(false);
    if (deliverer.joinable()) {
        deliverer.join();
    }
}

} // namespace

extern "C" {

EXTIO_EXPORT bool EXTIO_CALL InitHW(char* name, char* model, int* type) {
    std::strcpy(name, "Fake tone");
    std::strcpy(model, "test");
    *type = 3;
    return true;
}
EXTIO_EXPORT bool EXTIO_CALL OpenHW() {
    return true;
}
EXTIO_EXPORT int EXTIO_CALL StartHW(std::int32_t /*freq*/) {
#if defined(FAKE_EXTIO_TONE)
    stopDelivery();
    running.store(true);
    deliverer = std::thread(deliverTone);
#endif
    return static_cast<int>(kBlockPairs);
}
EXTIO_EXPORT int EXTIO_CALL GetStatus() {
    return 0;
}
EXTIO_EXPORT void EXTIO_CALL StopHW() {
    stopDelivery();
}
EXTIO_EXPORT void EXTIO_CALL CloseHW() {
    stopDelivery();
}
EXTIO_EXPORT int EXTIO_CALL SetHWLO(std::int32_t /*freq*/) {
    return 0;
}
EXTIO_EXPORT std::int32_t EXTIO_CALL GetHWLO() {
    return 0;
}
EXTIO_EXPORT std::int32_t EXTIO_CALL GetHWSR() {
    return kRate;
}
EXTIO_EXPORT void EXTIO_CALL IFLimitsChanged(std::int32_t /*low*/, std::int32_t /*high*/) {}
EXTIO_EXPORT void EXTIO_CALL TuneChanged(std::int32_t /*freq*/) {}
EXTIO_EXPORT void EXTIO_CALL ModeChanged(char /*mode*/) {}
EXTIO_EXPORT void EXTIO_CALL SetCallback(ExtIOCallback function) {
    callback = function;
}
EXTIO_EXPORT void EXTIO_CALL ShowGUI() {}
EXTIO_EXPORT void EXTIO_CALL HideGUI() {}
#if !defined(FAKE_EXTIO_INCOMPLETE)
EXTIO_EXPORT void EXTIO_CALL RawDataReady(std::int32_t /*rate*/, int* /*left*/, int* /*right*/,
                                          int /*count*/) {}
#endif

} // extern "C"

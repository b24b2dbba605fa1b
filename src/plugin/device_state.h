// DeviceState: the one process-wide record shared by the entry points (host
// threads), the device link and the worker thread. Everything that crosses
// threads is atomic; the calibration blocks and the parser belong to the
// worker alone.
#pragma once

#include "extio_api.h"
#include "platform/platform.h"
#include "zef/d2xx.h"
#include "zef/sample_rate.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace zef {

class ExtIO_Thread;

inline constexpr char kPluginName[] = "ZEF418 v3.02";
inline constexpr char kPluginModel[] = "3.xx";
inline constexpr int kHardwareType = 3; // 16-bit integer I/Q through the callback
inline constexpr std::int32_t kDefaultLoFrequency = 7050000;
inline constexpr std::size_t kCalibrationBlockSize = 64;

using CalibrationBlock = std::array<std::uint8_t, kCalibrationBlockSize>;

struct DeviceState {
    std::atomic<std::int32_t> loFrequency{0};
    std::atomic<std::int32_t> tuneFrequency{0};
    std::atomic<std::int64_t> loWord{0};
    std::atomic<std::int64_t> tuneWord{0};
    std::atomic<std::uint8_t> modeCode{0};
    // Held while a frequency, word or mode is computed and stored, and while
    // the settings frame takes its snapshot, so a frame never mixes old and
    // new values.
    platform::Mutex tuningLock;

    std::atomic<ExtIOCallback> hostCallback{nullptr};
    std::atomic<bool> callbackSet{false};
    std::atomic<bool> streaming{false};
    std::atomic<bool> firstInit{true};

    // Changed under the lifecycle lock of the entry points; atomic so that an
    // unload can take it without that lock.
    std::atomic<ExtIO_Thread*> worker{nullptr};

    std::atomic<std::int32_t> driverStatus{0};
    // Read and replaced only under the driver lock (usb_func/driver_lock.h).
    d2xx::FT_HANDLE deviceHandle = nullptr;
    // Created once by the first InitHW (or open), lives for the process.
    std::atomic<platform::Event*> rxEvent{nullptr};

    std::atomic<bool> bridgeLibrary{false};
    std::atomic<bool> plainLibrary{false};
    std::atomic<bool> configNeeded{false};
    std::atomic<bool> deviceReady{false};
    std::atomic<bool> settingsChanged{false};
    std::atomic<bool> settingsAcked{false};
    std::atomic<std::uint16_t> deviceModel{0};

    // Worker thread only: written by the parser, read by the settings frame.
    CalibrationBlock calibrationA{};
    CalibrationBlock calibrationB{};
};

extern DeviceState deviceState;

// RxEvent, created on first use; never destroyed.
platform::Event& rxEvent();

} // namespace zef

// The settings command: preamble, 65-byte settings frame, acknowledgement wait.
// Every frame carries the complete set of values; there is no partial update.
#pragma once

#include "calibration.h"
#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zef {

inline constexpr std::size_t kSettingsPreambleSize = 25;
inline constexpr std::size_t kSettingsFrameSize = 65;
// Where the calibration-derived fields sit in the frame (little-endian codes,
// then the pass-through bytes), for those who read a sent frame back.
inline constexpr std::size_t kTwoPointCodeAt = 28;
inline constexpr std::size_t kThreePointCodeAt = 36;
inline constexpr std::size_t kFivePointCodeAt = 38;
inline constexpr std::size_t kCalibrationBytesAt = 40;
// The model whose frames carry flag bit 3 and no two-point code.
inline constexpr std::uint16_t kDeviceModel53 = 53;

// AA 0F 55 eight times, then 00: the same shape the device puts before its
// own frames. Outside the frame and its CRC.
inline constexpr std::array<std::uint8_t, kSettingsPreambleSize> kSettingsPreamble = [] {
    constexpr std::array<std::uint8_t, 3> cycle{0xAA, 0x0F, 0x55};
    std::array<std::uint8_t, kSettingsPreambleSize> bytes{};
    for (std::size_t i = 0; i + 1 < kSettingsPreambleSize; ++i) {
        bytes[i] = cycle[i % cycle.size()];
    }
    return bytes;
}();

using SettingsFrame = std::array<std::uint8_t, kSettingsFrameSize>;

// Everything one frame is built from, taken together so a frame never mixes
// old and new values.
struct SettingsInputs {
    std::int64_t loWord = 0;        // low 32 bits sent
    std::int32_t tuneFrequency = 0; // Hz, sent as the host gave it
    std::uint8_t modeCode = 0;
    std::int64_t tuneWord = 0; // includes the mode offset; low 32 bits sent
    std::uint16_t deviceModel = 0;
    bool bridgeLibrary = false; // false: FTDI's own library, flag bit 7
    CalibrationRecord calibration{};
};

// Byte 0 holds the length 62, bytes 1-62 the values (little-endian), bytes
// 63-64 the CRC-16/MODBUS of bytes 0-62, low byte first.
SettingsFrame buildSettingsFrame(const SettingsInputs& inputs);

inline constexpr int kAckWaitPasses = 100;
inline constexpr std::uint32_t kAckWaitSleepMs = 5;

// Up to 100 rounds of: one parser pass; done if acknowledged; sleep 5 ms. The
// pass that sees the acknowledgement is not followed by a sleep. True when
// acknowledged. Generic so the rounds can be counted without a device.
template <typename Pass, typename Acknowledged, typename Sleep>
bool awaitAcknowledgement(Pass pass, Acknowledged acknowledged, Sleep sleep) {
    for (int round = 0; round < kAckWaitPasses; ++round) {
        pass();
        if (acknowledged()) {
            return true;
        }
        sleep(kAckWaitSleepMs);
    }
    return false;
}

// Writes the preamble and a frame built from DeviceState, keeps the frame
// write's status in driverStatus, lowers settingsAcked and waits for the
// acknowledgement. Worker thread only, while the device is ready.
void sendSettingsFrame(const platform::Thread& worker);

} // namespace zef

// The last settings frame the device accepted from us, kept for front ends
// that show what the instrument was told (its calibration codes above all).
#pragma once

#include "settings_frame.h"

#include <array>
#include <cstdint>

namespace zef {

struct SentSettings {
    std::uint64_t frames = 0; // frames written since the process started
    std::uint16_t twoPointCode = 0;
    std::uint16_t threePointCode = 0;
    std::uint16_t fivePointCode = 0;
    std::array<std::uint8_t, kPassThroughSize> calibrationBytes{};
};

// Worker thread: a frame whose write succeeded.
void noteSettingsSent(const SettingsFrame& frame);

SentSettings lastSentSettings();

} // namespace zef

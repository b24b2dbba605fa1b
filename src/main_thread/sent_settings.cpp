#include "sent_settings.h"

#include "platform/platform.h"

#include <algorithm>

namespace zef {

namespace {

// Where buildSettingsFrame puts the codes and the calibration bytes.
constexpr std::size_t kTwoPointAt = 28;
constexpr std::size_t kThreePointAt = 36;
constexpr std::size_t kFivePointAt = 38;
constexpr std::size_t kCalibrationBytesAt = 40;

platform::Mutex lock;
SentSettings last;

std::uint16_t le16(const SettingsFrame& frame, std::size_t at) {
    return static_cast<std::uint16_t>(frame[at] | (frame[at + 1] << 8U));
}

} // namespace

void noteSettingsSent(const SettingsFrame& frame) {
    SentSettings sent;
    sent.twoPointCode = le16(frame, kTwoPointAt);
    sent.threePointCode = le16(frame, kThreePointAt);
    sent.fivePointCode = le16(frame, kFivePointAt);
    std::copy_n(frame.begin() + kCalibrationBytesAt, kPassThroughSize,
                sent.calibrationBytes.begin());
    platform::LockGuard guard(lock);
    sent.frames = last.frames + 1;
    last = sent;
}

SentSettings lastSentSettings() {
    platform::LockGuard guard(lock);
    return last;
}

} // namespace zef

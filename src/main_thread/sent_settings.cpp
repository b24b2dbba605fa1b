#include "sent_settings.h"

#include "platform/platform.h"

#include <algorithm>

namespace zef {

namespace {

platform::Mutex lock;
SentSettings last;

std::uint16_t le16(const SettingsFrame& frame, std::size_t at) {
    return static_cast<std::uint16_t>(frame[at] | (frame[at + 1] << 8U));
}

} // namespace

void noteSettingsSent(const SettingsFrame& frame) {
    SentSettings sent;
    sent.twoPointCode = le16(frame, kTwoPointCodeAt);
    sent.threePointCode = le16(frame, kThreePointCodeAt);
    sent.fivePointCode = le16(frame, kFivePointCodeAt);
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

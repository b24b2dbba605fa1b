// The gateware's command receiver: finds the start command A5 00 00 and the
// 65-byte settings frame behind a sync preamble (24 bytes of the cycle
// AA 0F 55, then 00) in the bytes the host writes.
#pragma once

#include "sim/settings_decoder.h"

#include <array>
#include <cstdint>

namespace zef::sim {

class CommandReceiver {
  public:
    enum class Command { None, Start, Settings };

    Command feed(std::uint8_t c) {
        if (inSettings_) {
            frame_[count_++] = c;
            if (count_ < frame_.size()) {
                return Command::None;
            }
            reset();
            return Command::Settings;
        }
        const bool sync = c == 0x00 && runLength_ >= kPreambleRun;
        const bool continues = (previous_ == 0xAA && c == 0x0F) ||
                               (previous_ == 0x0F && c == 0x55) || (previous_ == 0x55 && c == 0xAA);
        runLength_ = continues ? runLength_ + 1 : (c == 0xAA ? 1 : 0);
        previous_ = c;
        recent_ = {recent_[1], recent_[2], c};
        if (sync) {
            inSettings_ = true;
            count_ = 0;
            return Command::None;
        }
        return recent_ == kStart ? Command::Start : Command::None;
    }

    // The frame that the last Command::Settings completed.
    [[nodiscard]] const std::array<std::uint8_t, kSettingsFrameSize>& frame() const {
        return frame_;
    }

    void reset() {
        inSettings_ = false;
        count_ = 0;
        runLength_ = 0;
        previous_ = 0;
        recent_ = {0xFF, 0xFF, 0xFF};
    }

  private:
    static constexpr std::uint32_t kPreambleRun = 24;
    static constexpr std::array<std::uint8_t, 3> kStart = {0xA5, 0x00, 0x00};

    std::array<std::uint8_t, kSettingsFrameSize> frame_{};
    std::size_t count_ = 0;
    bool inSettings_ = false;
    std::uint32_t runLength_ = 0;
    std::uint8_t previous_ = 0;
    std::array<std::uint8_t, 3> recent_{0xFF, 0xFF, 0xFF};
};

} // namespace zef::sim

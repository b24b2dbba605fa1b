// The text log of port set-up and control calls that tests read back.
#pragma once

#include <cstddef>
#include <string>

namespace zef::sim {

class CallLog {
  public:
    // Adds one line. A query repeated in a tight loop (FT_GetStatus while
    // draining) is kept once.
    void add(const char* line) {
        if (line == lastLine_ && lastLine_ == "FT_GetStatus") {
            return;
        }
        lastLine_ = line;
        if (text_.size() < kMaxBytes) {
            text_ += line;
            text_ += '\n';
        }
    }
    [[nodiscard]] const std::string& text() const { return text_; }
    void clear() {
        text_.clear();
        lastLine_.clear();
    }

  private:
    static constexpr std::size_t kMaxBytes = 1U << 20U;
    std::string text_;
    std::string lastLine_;
};

} // namespace zef::sim

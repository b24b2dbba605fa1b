// Notices, while the stream is silent, that the instrument has gone (a
// pulled cable), says so once, and reopens it the way the ExtIO StartHW
// does until it is back.
#pragma once

#include <cstdint>
#include <mutex>

namespace zef::soapy {

class LinkWatch {
  public:
    enum class Verdict {
        Fine,
        LostNow,   // noticed by this call: logged as a warning
        StillLost, // the reopen tries go on
        Reopened,  // the instrument is back; its gateware is loading again
    };

    void reset();
    // The reader, while nothing has arrived since `silentSinceUs` (both on
    // the steady clock, in microseconds). Rate-limited, so call it freely.
    Verdict watch(std::uint64_t nowUs, std::uint64_t silentSinceUs);
    [[nodiscard]] bool lost();

  private:
    std::mutex lock_; // activation resets what the reader's calls use
    bool lost_ = false;
    bool reopenFailureLogged_ = false;
    std::uint64_t lastCheckUs_ = 0;
    std::uint64_t lostAtUs_ = 0;
    std::uint64_t lastReopenUs_ = 0;
};

// Microseconds on the steady clock, as the stream measures silence.
std::uint64_t steadyMicroseconds();

} // namespace zef::soapy

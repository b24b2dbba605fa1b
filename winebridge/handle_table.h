// The handles the Windows side holds are tokens, not the Linux library's
// pointers: a token of a closed device, or one that was never handed out, is
// refused with FT_INVALID_HANDLE before anything reaches the Linux library,
// and a token is never handed out twice in a process.
#pragma once

#include "zef/d2xx.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace zef::winebridge {

class HandleTable {
  public:
    d2xx::FT_HANDLE add(d2xx::FT_HANDLE linuxHandle);
    [[nodiscard]] std::optional<d2xx::FT_HANDLE> find(d2xx::FT_HANDLE token) const;
    // The token is invalid from then on.
    std::optional<d2xx::FT_HANDLE> remove(d2xx::FT_HANDLE token);

  private:
    struct Entry {
        std::uintptr_t token = 0;
        d2xx::FT_HANDLE linuxHandle = nullptr;
    };
    mutable std::mutex lock_;
    std::vector<Entry> entries_; // under lock_
    std::uintptr_t last_ = 0;    // under lock_
};

} // namespace zef::winebridge

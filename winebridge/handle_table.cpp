#include "handle_table.h"

#include <algorithm>

namespace zef::winebridge {

namespace {

// Tokens are small numbers, never an address a caller could dereference.
constexpr std::uintptr_t kTokenStep = 0x10;

std::uintptr_t tokenOf(d2xx::FT_HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

} // namespace

d2xx::FT_HANDLE HandleTable::add(d2xx::FT_HANDLE linuxHandle) {
    const std::lock_guard guard(lock_);
    last_ += kTokenStep;
    entries_.push_back({last_, linuxHandle});
    return reinterpret_cast<d2xx::FT_HANDLE>(last_); // NOLINT(performance-no-int-to-ptr)
}

std::optional<d2xx::FT_HANDLE> HandleTable::find(d2xx::FT_HANDLE token) const {
    const std::lock_guard guard(lock_);
    for (const Entry& entry : entries_) {
        if (entry.token == tokenOf(token)) {
            return entry.linuxHandle;
        }
    }
    return std::nullopt;
}

std::optional<d2xx::FT_HANDLE> HandleTable::remove(d2xx::FT_HANDLE token) {
    const std::lock_guard guard(lock_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& entry) { return entry.token == tokenOf(token); });
    if (it == entries_.end()) {
        return std::nullopt;
    }
    const d2xx::FT_HANDLE linuxHandle = it->linuxHandle;
    entries_.erase(it);
    return linuxHandle;
}

} // namespace zef::winebridge

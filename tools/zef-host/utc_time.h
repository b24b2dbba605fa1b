// Wall-clock instants as recording formats want them: Windows SYSTEMTIME
// fields for the WAV auxi chunk, RFC 3339 text for SigMF. Always UTC.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zef::host {

struct UtcTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;     // 1-12
    std::uint16_t dayOfWeek = 0; // 0 = Sunday, as SYSTEMTIME counts
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
};

UtcTime toUtc(std::chrono::system_clock::time_point instant);
inline UtcTime utcNow() {
    return toUtc(std::chrono::system_clock::now());
}

// "2026-12-08T17:50:41.123Z"
std::string rfc3339(const UtcTime& time);

} // namespace zef::host

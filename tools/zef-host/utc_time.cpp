#include "utc_time.h"

#include <cstdio>

namespace zef::host {

UtcTime toUtc(std::chrono::system_clock::time_point instant) {
    using namespace std::chrono;
    const auto days = floor<std::chrono::days>(instant);
    const year_month_day date{days};
    const hh_mm_ss clock{floor<milliseconds>(instant - days)};
    UtcTime t;
    t.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
    t.month = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
    t.day = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
    t.dayOfWeek = static_cast<std::uint16_t>(weekday{days}.c_encoding());
    t.hour = static_cast<std::uint16_t>(clock.hours().count());
    t.minute = static_cast<std::uint16_t>(clock.minutes().count());
    t.second = static_cast<std::uint16_t>(clock.seconds().count());
    t.millisecond = static_cast<std::uint16_t>(clock.subseconds().count());
    return t;
}

std::string rfc3339(const UtcTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.year, time.month,
                  time.day, time.hour, time.minute, time.second, time.millisecond);
    return text;
}

} // namespace zef::host

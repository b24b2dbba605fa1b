#include "DeviceArgs.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace zef::soapy {

namespace {

// Keys that find puts into its results, and those that the module reads.
constexpr std::string_view kKnownKeys[] = {"driver",        "label", "description", "location",
                                           "ready_timeout", "d2xx",  "serial"};

constexpr std::size_t kShownChars = 40;

// A value as an error message may show it: one line, printable, short.
std::string shown(const std::string& value) {
    std::string text;
    for (const char c : value.substr(0, kShownChars)) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x20 && byte < 0x7F ? c : '?';
    }
    return value.size() > kShownChars ? text + "..." : text;
}

bool hasControlCharacter(const std::string& value) {
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

// Seconds in plain decimal, as a person writes them ("2", "2.5"); the
// program's locale does not matter.
std::optional<double> parseSeconds(const std::string& text) {
    std::size_t digits = 0;
    std::size_t points = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            ++points;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || points > 1) {
        return std::nullopt;
    }
    double seconds = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, seconds);
    if (fault != std::errc() || stop != end) {
        return std::nullopt;
    }
    return seconds;
}

} // namespace

std::optional<std::uint32_t> parseLocation(const std::string& text) {
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, fault] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || fault != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::string hexLocation(std::uint32_t location) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", location);
    return text;
}

DeviceArgs parseDeviceArgs(const SoapySDR::Kwargs& args) {
    DeviceArgs parsed;
    const auto fail = [&parsed](const std::string& message) {
        if (parsed.error.empty()) {
            parsed.error = "ZEF418: " + message;
        }
    };
    for (const auto& [key, value] : args) {
        bool known = false;
        for (const std::string_view name : kKnownKeys) {
            known = known || key == name;
        }
        if (!known) {
            parsed.ignoredKeys.push_back(key);
        }
    }
    if (const auto given = args.find("location"); given != args.end()) {
        parsed.location = parseLocation(given->second);
        if (!parsed.location) {
            fail("location=" + shown(given->second) +
                 " is not a location; give one such as 0x2101, as SoapySDRUtil "
                 "--find=driver=zef shows it");
        }
    }
    if (const auto given = args.find("ready_timeout"); given != args.end()) {
        const std::optional<double> seconds = parseSeconds(given->second);
        const double ms = seconds ? std::round(*seconds * 1000.0) : 0.0;
        if (!seconds || ms < 1.0 || *seconds > 600.0) {
            fail("ready_timeout=" + shown(given->second) +
                 " is not a time the module can wait; give seconds from 0.001 to 600, such as 10");
        } else {
            parsed.readyTimeout = std::chrono::milliseconds(static_cast<long long>(ms));
        }
    }
    if (const auto given = args.find("d2xx"); given != args.end()) {
        if (hasControlCharacter(given->second)) {
            fail("d2xx=" + shown(given->second) +
                 " is not a library name (it holds a control character); give ftdi, zef or the "
                 "path of a D2XX library");
        } else {
            parsed.d2xx = given->second;
        }
    }
    if (const auto given = args.find("serial"); given != args.end()) {
        parsed.serialGiven = true;
        fail("serial=" + shown(given->second) +
             " cannot choose an instrument: the module finds it by its USB description and "
             "chooses it by location; give location= as SoapySDRUtil --find=driver=zef shows it");
    }
    return parsed;
}

} // namespace zef::soapy

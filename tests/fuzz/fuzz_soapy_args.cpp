// Fuzzes the SoapySDR module's device arguments as find and make read them
// (soapy/DeviceArgs.cpp), with no driver and no device. The input is lines
// of key=value (split at the first '='), any bytes in either part; the
// whole input is also tried as a location.
#include "DeviceArgs.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A location as the module documents it, judged without its parser.
bool isLocation(const std::string& text, std::uint64_t& value) {
    std::string_view digits = text;
    unsigned base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty()) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * base + digit;
        if (value > UINT32_MAX) {
            return false;
        }
    }
    return true;
}

bool isOneCleanLine(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            return false;
        }
    }
    return true;
}

void checkLocation(const std::string& text) {
    std::uint64_t expected = 0;
    const std::optional<std::uint32_t> parsed = zef::soapy::parseLocation(text);
    check(parsed.has_value() == isLocation(text, expected));
    if (parsed) {
        check(*parsed == expected);
        check(zef::soapy::parseLocation(zef::soapy::hexLocation(*parsed)) == parsed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    checkLocation(input);

    SoapySDR::Kwargs args;
    for (std::size_t from = 0; from <= input.size();) {
        const std::size_t end = std::min(input.find('\n', from), input.size());
        const std::string line = input.substr(from, end - from);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            args[line.substr(0, equals)] = line.substr(equals + 1);
        }
        from = end + 1;
    }

    const zef::soapy::DeviceArgs parsed = zef::soapy::parseDeviceArgs(args);
    // What it says is one printable line, whatever bytes came in.
    check(parsed.error.empty() || parsed.error.rfind("ZEF418: ", 0) == 0);
    check(isOneCleanLine(parsed.error));

    std::size_t known = 0;
    for (const char* key :
         {"driver", "label", "description", "location", "ready_timeout", "d2xx", "serial"}) {
        known += args.count(key);
    }
    check(known + parsed.ignoredKeys.size() == args.size());
    if (const auto location = args.find("location"); location != args.end()) {
        checkLocation(location->second);
    }
    if (!parsed.error.empty()) {
        return 0;
    }
    check(args.count("serial") == 0);
    check(parsed.location.has_value() == (args.count("location") != 0));
    if (const auto d2xx = args.find("d2xx"); d2xx != args.end()) {
        check(parsed.d2xx == d2xx->second);
        check(parsed.d2xx.find('\0') == std::string::npos); // the loader would cut it there
    } else {
        check(parsed.d2xx.empty());
    }
    check(parsed.readyTimeout.count() >= 1 && parsed.readyTimeout.count() <= 600000);
    return 0;
}

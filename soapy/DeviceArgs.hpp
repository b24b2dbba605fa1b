// The device arguments that find and make are given, read without the
// driver: which instrument (location), which D2XX library (d2xx) and how
// long to wait for the ready status (ready_timeout). They come from users
// and from programs' saved configurations, so nothing in them is trusted.
#pragma once

#include <SoapySDR/Types.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef::soapy {

// Covers the FPGA image load over the bit-bang port and the ready status.
inline constexpr std::chrono::milliseconds kDefaultReadyTimeout{10000};

struct DeviceArgs {
    std::optional<std::uint32_t> location;
    std::string d2xx; // "", "ftdi", "zef" or a library's file name or path
    std::chrono::milliseconds readyTimeout = kDefaultReadyTimeout;
    bool serialGiven = false;             // the instrument cannot be chosen by one
    std::vector<std::string> ignoredKeys; // keys that mean nothing to the module
    // What is wrong with the first argument that cannot be used, in one line
    // that starts "ZEF418: " and says what to give instead; "" when none.
    std::string error;
};

// Never throws; a value it cannot use is named in `error`.
DeviceArgs parseDeviceArgs(const SoapySDR::Kwargs& args);

// "0x2101", as find spells a location, or decimal; nothing else (no sign,
// no blanks, nothing above 32 bits).
std::optional<std::uint32_t> parseLocation(const std::string& text);

// "0x2101": the spelling that parseLocation reads back.
std::string hexLocation(std::uint32_t location);

} // namespace zef::soapy

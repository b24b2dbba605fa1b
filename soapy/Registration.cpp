// Discovery and registration under the driver key "zef".
#include "ZefDevice.hpp"

#include "platform/platform.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"

#include <SoapySDR/Registry.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace zef::soapy {

namespace {

std::string hexLocation(std::uint32_t location) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", location);
    return text;
}

bool isInstrument(const char* description) {
    return std::strcmp(description, kDescriptionKr27xx) == 0 ||
           std::strcmp(description, kDescriptionZef418) == 0;
}

// Location given as the find result spells it ("0x2101") or in decimal.
bool locationMatches(const SoapySDR::Kwargs& args, std::uint32_t location) {
    const auto wanted = args.find("location");
    if (wanted == args.end()) {
        return true;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(wanted->second.c_str(), &end, 0);
    return end != wanted->second.c_str() && *end == '\0' && value == location;
}

SoapySDR::Device* makeDevice(const SoapySDR::Kwargs& args) {
    return new ZefDevice(args);
}

} // namespace

// Only listing calls, under the driver lock: SoapySDR runs find functions
// concurrently, possibly while a device of ours streams.
SoapySDR::KwargsList findInstruments(const SoapySDR::Kwargs& args) {
    SoapySDR::KwargsList found;
    platform::LockGuard guard(driverLock());
    if (BindDriver() != 0) {
        return found;
    }
    DWORD count = 0;
    if (FT_CreateDeviceInfoList(&count) != FT_OK) {
        return found;
    }
    for (DWORD index = 0; index < count; ++index) {
        // D2XX takes the index in a pointer argument.
        void* indexArg = reinterpret_cast<void*>( // NOLINT(performance-no-int-to-ptr)
            static_cast<std::uintptr_t>(index));
        DWORD location = 0;
        char description[kDescriptionSize] = {};
        if (FT_ListDevices(indexArg, &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) != FT_OK ||
            FT_ListDevices(indexArg, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) !=
                FT_OK) {
            continue;
        }
        description[kDescriptionSize - 1] = '\0';
        if (!isInstrument(description) || !locationMatches(args, location)) {
            continue;
        }
        SoapySDR::Kwargs device;
        device["driver"] = kDriverKey;
        device["label"] = std::string(description) + " @ " + hexLocation(location);
        device["description"] = description;
        device["location"] = hexLocation(location);
        found.push_back(device);
    }
    return found;
}

namespace {
const SoapySDR::Registry registerZef(kDriverKey, &findInstruments, &makeDevice,
                                     SOAPY_SDR_ABI_VERSION);
} // namespace

} // namespace zef::soapy

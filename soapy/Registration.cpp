// Discovery and registration under the driver key "zef".
#include "ZefDevice.hpp"

#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Registry.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zef::soapy {

namespace {

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

std::string hexLocation(std::uint32_t location) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", location);
    return text;
}

// SoapySDR runs find functions concurrently, possibly while a device of ours
// streams; the listing opens nothing and is safe for that.
SoapySDR::KwargsList findInstruments(const SoapySDR::Kwargs& args) {
    SoapySDR::KwargsList found;
    const auto choice = args.find("d2xx");
    if (choice != args.end() && !instrument::chooseDriver(choice->second)) {
        SoapySDR::logf(SOAPY_SDR_WARNING, "ZEF418: d2xx=%s ignored: %s is bound already",
                       choice->second.c_str(), instrument::state().libraryFile.c_str());
    }
    const instrument::Listing listing = instrument::list();
    if (listing.status != 0) {
        SoapySDR::logf(SOAPY_SDR_DEBUG, "ZEF418: find lists nothing: %s",
                       instrument::describeStatus(listing.status).c_str());
        return found;
    }
    for (const instrument::Listed& listed : listing.instruments) {
        if (!locationMatches(args, listed.location)) {
            continue;
        }
        SoapySDR::Kwargs device;
        device["driver"] = kDriverKey;
        device["label"] = listed.description + " @ " + hexLocation(listed.location);
        device["description"] = listed.description;
        device["location"] = hexLocation(listed.location);
        found.push_back(device);
    }
    return found;
}

namespace {
const SoapySDR::Registry registerZef(kDriverKey, &findInstruments, &makeDevice,
                                     SOAPY_SDR_ABI_VERSION);
} // namespace

} // namespace zef::soapy

// Discovery and registration under the driver key "zef".
#include "ZefDevice.hpp"

#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Registry.hpp>

#include <string>

namespace zef::soapy {

namespace {

SoapySDR::Device* makeDevice(const SoapySDR::Kwargs& args) {
    return new ZefDevice(args);
}

} // namespace

// SoapySDR runs find functions concurrently, possibly while a device of ours
// streams; the listing opens nothing and is safe for that.
SoapySDR::KwargsList findInstruments(const SoapySDR::Kwargs& args) {
    SoapySDR::KwargsList found;
    const DeviceArgs wanted = parseDeviceArgs(args);
    if (!wanted.error.empty()) {
        // Nothing matches; make says why.
        SoapySDR::logf(SOAPY_SDR_DEBUG, "%s", wanted.error.c_str());
        return found;
    }
    if (args.count("d2xx") != 0 && !instrument::chooseDriver(wanted.d2xx)) {
        SoapySDR::logf(SOAPY_SDR_WARNING, "ZEF418: d2xx=%s ignored: %s is bound already",
                       wanted.d2xx.c_str(), instrument::state().libraryFile.c_str());
    }
    const instrument::Listing listing = instrument::list();
    if (listing.status != 0) {
        SoapySDR::logf(SOAPY_SDR_DEBUG, "ZEF418: find lists nothing: %s",
                       instrument::describeStatus(listing.status).c_str());
        return found;
    }
    for (const instrument::Listed& listed : listing.instruments) {
        if (wanted.location && *wanted.location != listed.location) {
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

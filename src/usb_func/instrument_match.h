// How a listed device is recognised as the instrument, and which devices an
// open may take. The plug-in's own search, the listing for front ends and
// their open all use these, so they can never disagree.
#pragma once

#include "instrument_description.h"
#include "zef/d2xx.h"

#include <cstdint>
#include <optional>

namespace zef {

// One device as both list queries report it.
struct ListedDevice {
    d2xx::DWORD location = 0;
    char description[d2xx::kDescriptionSize] = {};
};

// D2XX takes a device index or a location id in its pointer argument.
void* asPointerArgument(d2xx::DWORD value);

// Both list queries (location, then description), made every time; true
// when both worked. Under the driver lock.
bool listDevice(d2xx::DWORD index, ListedDevice& device);

// The first pass's test of one index: listed, and described as the instrument.
bool listInstrument(d2xx::DWORD index, ListedDevice& device);

// Which devices OpenDevice may take. The ExtIO plug-in keeps the default,
// both passes; a front end narrows it to the instrument, optionally at one
// location, and then no open (nor a later reopen) falls through to a
// foreign device.
struct DeviceSearch {
    bool instrumentsOnly = false;
    std::optional<std::uint32_t> location;

    [[nodiscard]] bool accepts(d2xx::DWORD at) const { return !location || *location == at; }
};

// Both under the driver lock.
void setDeviceSearch(const DeviceSearch& search);
const DeviceSearch& deviceSearch();

} // namespace zef

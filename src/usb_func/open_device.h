// Finding the instrument among the devices the driver lists, opening it and
// setting up the port.
#pragma once

#include "device_session.h"
#include "instrument_match.h"
#include "zef/d2xx.h"

#include <cstdint>

namespace zef {

inline constexpr std::uint32_t kNoDeviceStatus = 2;

// Binds the driver, closes a previously opened handle, finds and opens the
// instrument and sets up the port. Returns 0 on success, a binding status
// (100, 110-125, 130-137), 2 when nothing could be opened, or a D2XX status.
// Takes the driver lock for the whole sequence, and in it stores the result
// in driverStatus and, on success, begins the device session
// (device_session.h). Opens only what
// deviceSearch() accepts; when that is the instrument alone, a failed open of
// one is reported with its D2XX status (another program holds it).
std::uint32_t OpenDevice(d2xx::FT_HANDLE* handle);

// Closes the open handle, if any (shutdown). Takes the driver lock.
void CloseDevice(d2xx::FT_HANDLE* handle);

// The link check: the receive-queue query on the open device, its length
// discarded; kUnboundStatus when no device is open. Takes the driver lock.
d2xx::FT_STATUS CheckLink();

// Takes a handle that the caller opened itself as the open device, as a
// successful OpenDevice does, and starts its session (drivers inside a test).
LinkSession adoptOpenHandle(d2xx::FT_HANDLE* place, d2xx::FT_HANDLE handle);

// Location of the device the last successful open took; empty when unknown
// (the plug-in's bridge-library open takes index 0 without listing it).
std::optional<std::uint32_t> openedLocation();

} // namespace zef

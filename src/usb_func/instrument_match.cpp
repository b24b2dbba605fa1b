#include "instrument_match.h"

#include "driver_table.h"

namespace zef {

namespace {
DeviceSearch search; // guarded by the driver lock
} // namespace

void* asPointerArgument(DWORD value) {
    return reinterpret_cast<void*>( // NOLINT(performance-no-int-to-ptr)
        static_cast<std::uintptr_t>(value));
}

bool listDevice(DWORD index, ListedDevice& device) {
    device = ListedDevice{};
    void* indexArg = asPointerArgument(index);
    const FT_STATUS locationStatus =
        FT_ListDevices(indexArg, &device.location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION);
    const FT_STATUS descriptionStatus =
        FT_ListDevices(indexArg, device.description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    device.description[kDescriptionSize - 1] = '\0'; // a driver that fills all 64 bytes
    return locationStatus == FT_OK && descriptionStatus == FT_OK;
}

bool listInstrument(DWORD index, ListedDevice& device) {
    return listDevice(index, device) && isInstrument(device.description);
}

void setDeviceSearch(const DeviceSearch& wanted) {
    search = wanted;
}

const DeviceSearch& deviceSearch() {
    return search;
}

} // namespace zef

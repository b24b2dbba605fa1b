#include "device_list.h"

#include "usb_func/instrument_description.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace zef::winebridge {

namespace {

void* indexArgument(DWORD index) {
    return reinterpret_cast<void*>( // NOLINT(performance-no-int-to-ptr): D2XX takes it so
        static_cast<std::uintptr_t>(index));
}

// Read into room to spare, so that a library writing more than D2XX's 64
// bytes overruns nothing, and cut to what the Windows side is given.
bool listString(const LinuxD2xx& d2xx, DWORD index, DWORD what, char (&out)[kDescriptionSize]) {
    std::array<char, 4 * kDescriptionSize> room{};
    if (d2xx.listDevices(indexArgument(index), room.data(), FT_LIST_BY_INDEX | what) != FT_OK) {
        return false;
    }
    room[kDescriptionSize - 1] = '\0';
    std::memcpy(out, room.data(), kDescriptionSize);
    return true;
}

} // namespace

FT_STATUS listInstruments(const LinuxD2xx& d2xx, std::vector<ListedInstrument>& instruments) {
    instruments.clear();
    DWORD count = 0;
    const FT_STATUS status = d2xx.createDeviceInfoList(&count);
    if (status != FT_OK) {
        return status;
    }
    for (DWORD index = 0; index < count; ++index) {
        ListedInstrument device;
        std::array<DWORD, 4> location{}; // room to spare, as above
        if (d2xx.listDevices(indexArgument(index), location.data(),
                             FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) != FT_OK ||
            !listString(d2xx, index, FT_OPEN_BY_DESCRIPTION, device.description) ||
            !isInstrument(device.description)) {
            continue;
        }
        device.location = location[0];
        if (!listString(d2xx, index, FT_OPEN_BY_SERIAL_NUMBER, device.serial)) {
            device.serial[0] = '\0';
        }
        instruments.push_back(device);
    }
    std::stable_sort(instruments.begin(), instruments.end(),
                     [](const ListedInstrument& a, const ListedInstrument& b) {
                         return a.location < b.location;
                     });
    return FT_OK;
}

} // namespace zef::winebridge

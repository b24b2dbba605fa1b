#include "open_device.h"

#include "driver_lock.h"
#include "driver_table.h"
#include "plugin/device_state.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace zef {

namespace {

// Written under the driver lock; read without it only as a hint.
std::atomic<LinkSession> openLink{kNoLink};
LinkSession lastLink = kNoLink; // under the driver lock

LinkSession beginLink() {
    openLink.store(++lastLink);
    return lastLink;
}

// The handle is forgotten too, so nothing can pick it up again.
void endLink(FT_HANDLE* handle) {
    if (openLink.exchange(kNoLink) != kNoLink) {
        FT_Close(*handle);
    }
    *handle = nullptr;
}

// D2XX takes a device index or a location id in its pointer argument.
void* asPointerArgument(DWORD value) {
    return reinterpret_cast<void*>( // NOLINT(performance-no-int-to-ptr)
        static_cast<std::uintptr_t>(value));
}

// Both list queries are made every time; a device counts only when both work.
bool listDevice(DWORD index, DWORD& location, char (&description)[kDescriptionSize]) {
    std::memset(description, 0, sizeof description);
    void* indexArg = asPointerArgument(index);
    const FT_STATUS locationStatus =
        FT_ListDevices(indexArg, &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION);
    const FT_STATUS descriptionStatus =
        FT_ListDevices(indexArg, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    description[kDescriptionSize - 1] = '\0'; // a driver that fills all 64 bytes
    return locationStatus == FT_OK && descriptionStatus == FT_OK;
}

bool isInstrument(const char* description) {
    return std::strcmp(description, kDescriptionKr27xx) == 0 ||
           std::strcmp(description, kDescriptionZef418) == 0;
}

bool isRelative(const char* description) {
    return isInstrument(description) || std::strcmp(description, kDescriptionOscilloscope) == 0 ||
           std::strcmp(description, kDescriptionKr27) == 0;
}

FT_STATUS openByLocation(DWORD location, FT_HANDLE* handle) {
    return FT_OpenEx(asPointerArgument(location), FT_OPEN_BY_LOCATION, handle);
}

constexpr ULONG kBaudRate = 3000000;
constexpr ULONG kTimeoutMs = 500;
constexpr UCHAR kLatencyMs = 2;
constexpr UCHAR kXon = 0x13;
constexpr UCHAR kXoff = 0x17;

void setUpBridgePort(FT_HANDLE handle) {
    FT_ResetDevice(handle);
    FT_SetBaudRate(handle, kBaudRate);
    FT_SetTimeouts(handle, kTimeoutMs, kTimeoutMs);
    FT_SetLatencyTimer(handle, kLatencyMs);
}

void setUpPlainPort(FT_HANDLE handle) {
    FT_ResetDevice(handle);
    FT_SetBaudRate(handle, kBaudRate);
    FT_SetDataCharacteristics(handle, 8, 0, 0);
    ULONG modemStatus = 0; // a failed query reports nothing: no CTS
    FT_GetModemStatus(handle, &modemStatus);
    if ((modemStatus & FT_MODEM_STATUS_CTS) != 0) {
        FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, kXon, kXoff);
        FT_SetRts(handle);
    } else {
        FT_SetFlowControl(handle, FT_FLOW_NONE, kXon, kXoff);
    }
    FT_SetTimeouts(handle, kTimeoutMs, kTimeoutMs);
    FT_SetLatencyTimer(handle, kLatencyMs);
    FT_SetEventNotification(handle, FT_EVENT_RXCHAR, rxEvent().driverHandle());
}

std::uint32_t openPlain(DWORD count, FT_HANDLE* handle) {
    char description[kDescriptionSize];
    DWORD location = 0;
    for (DWORD index = 0; index < count; ++index) {
        if (listDevice(index, location, description) && isInstrument(description) &&
            openByLocation(location, handle) == FT_OK) {
            return 0;
        }
    }
    std::uint32_t result = kNoDeviceStatus;
    for (DWORD index = 0; index < count; ++index) {
        if (listDevice(index, location, description) && !isRelative(description)) {
            result = openByLocation(location, handle);
            if (result == FT_OK) {
                return 0;
            }
        }
    }
    return result;
}

} // namespace

std::uint32_t OpenDevice(FT_HANDLE* handle) {
    platform::LockGuard guard(driverLock());
    const std::uint32_t bound = BindDriver();
    if (bound != 0) {
        return bound;
    }
    endLink(handle);
    DWORD count = 0;
    const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
    if (listed != FT_OK) {
        return listed;
    }
    if (count == 0) {
        return kNoDeviceStatus;
    }
    if (deviceState.bridgeLibrary.load()) {
        const FT_STATUS opened = FT_Open(0, handle);
        if (opened != FT_OK) {
            return opened;
        }
        beginLink();
        setUpBridgePort(*handle);
        return 0;
    }
    const std::uint32_t found = openPlain(count, handle);
    if (found != 0) {
        return found;
    }
    beginLink();
    setUpPlainPort(*handle);
    return 0;
}

void CloseDevice(FT_HANDLE* handle) {
    platform::LockGuard guard(driverLock());
    endLink(handle);
}

LinkSession currentLink() {
    return openLink.load();
}

bool portOpen() {
    return currentLink() != kNoLink;
}

LinkSession adoptOpenHandle(FT_HANDLE* place, FT_HANDLE handle) {
    platform::LockGuard guard(driverLock());
    *place = handle;
    return beginLink();
}

} // namespace zef

#include "open_device.h"

#include "device_session.h"
#include "driver_lock.h"
#include "driver_table.h"
#include "plugin/device_state.h"

#include <atomic>
#include <cstdint>

namespace zef {

namespace {

// The handle is forgotten too, so nothing can pick it up again.
void endLink(FT_HANDLE* handle) {
    if (endDeviceSession()) {
        FT_Close(*handle);
    }
    *handle = nullptr;
}

constexpr std::int64_t kUnknownLocation = -1;
std::atomic<std::int64_t> lastOpenedLocation{kUnknownLocation};

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

// Pass 1 opens the first instrument; pass 2, for the plug-in alone, the first
// device that is none of its relatives.
std::uint32_t openPlain(DWORD count, FT_HANDLE* handle) {
    const DeviceSearch& search = deviceSearch();
    ListedDevice device;
    std::uint32_t firstPass = kNoDeviceStatus;
    for (DWORD index = 0; index < count; ++index) {
        if (listInstrument(index, device) && search.accepts(device.location)) {
            const FT_STATUS opened = openByLocation(device.location, handle);
            if (opened == FT_OK) {
                lastOpenedLocation.store(device.location);
                return 0;
            }
            firstPass = opened;
        }
    }
    if (search.instrumentsOnly) {
        return firstPass;
    }
    std::uint32_t result = kNoDeviceStatus;
    for (DWORD index = 0; index < count; ++index) {
        if (listDevice(index, device) && !isRelative(device.description)) {
            result = openByLocation(device.location, handle);
            if (result == FT_OK) {
                lastOpenedLocation.store(device.location);
                return 0;
            }
        }
    }
    return result;
}

// The bridge library opens by index: index 0 for the plug-in, whatever it
// is; the first instrument the search accepts for a front end.
FT_STATUS openBridge(DWORD count, FT_HANDLE* handle) {
    const DeviceSearch& search = deviceSearch();
    if (!search.instrumentsOnly) {
        return FT_Open(0, handle);
    }
    ListedDevice device;
    for (DWORD index = 0; index < count; ++index) {
        if (listInstrument(index, device) && search.accepts(device.location)) {
            const FT_STATUS opened = FT_Open(static_cast<int>(index), handle);
            if (opened == FT_OK) {
                lastOpenedLocation.store(device.location);
            }
            return opened;
        }
    }
    return kNoDeviceStatus;
}

std::uint32_t openUnderLock(FT_HANDLE* handle) {
    const std::uint32_t bound = BindDriver();
    if (bound != 0) {
        return bound;
    }
    endLink(handle);
    lastOpenedLocation.store(kUnknownLocation);
    DWORD count = 0;
    const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
    if (listed != FT_OK) {
        return listed;
    }
    if (count == 0) {
        return kNoDeviceStatus;
    }
    if (deviceState.bridgeLibrary.load()) {
        const FT_STATUS opened = openBridge(count, handle);
        if (opened != FT_OK) {
            return opened;
        }
        beginDeviceSession();
        setUpBridgePort(*handle);
        return 0;
    }
    const std::uint32_t found = openPlain(count, handle);
    if (found != 0) {
        return found;
    }
    beginDeviceSession();
    setUpPlainPort(*handle);
    return 0;
}

} // namespace

// The status is stored in the same hold of the lock, so a failed write on
// the new session, stored by the worker right after, is never overwritten.
std::uint32_t OpenDevice(FT_HANDLE* handle) {
    platform::LockGuard guard(driverLock());
    const std::uint32_t status = openUnderLock(handle);
    deviceState.driverStatus.store(static_cast<std::int32_t>(status));
    return status;
}

void CloseDevice(FT_HANDLE* handle) {
    platform::LockGuard guard(driverLock());
    endLink(handle);
    lastOpenedLocation.store(kUnknownLocation);
}

FT_STATUS CheckLink() {
    platform::LockGuard guard(driverLock());
    if (!portOpen()) {
        return kUnboundStatus;
    }
    DWORD queued = 0;
    return FT_GetQueueStatus(deviceState.deviceHandle, &queued);
}

LinkSession adoptOpenHandle(FT_HANDLE* place, FT_HANDLE handle) {
    platform::LockGuard guard(driverLock());
    *place = handle;
    return beginAdoptedSession();
}

std::optional<std::uint32_t> openedLocation() {
    const std::int64_t location = lastOpenedLocation.load();
    if (location == kUnknownLocation) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(location);
}

} // namespace zef

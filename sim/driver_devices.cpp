// The device list and opening: devices are listed in the order they were
// added, less those whose cable is pulled.
#include "sim/port_call.h"
#include "sim/simulated_driver.h"
#include "sim/starting_state.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zef::sim::driver {

namespace {

constexpr DWORD kOpenByMask = 0x7;

void copyString(char* out, const char* text) {
    std::strncpy(out, text, kDescriptionSize - 1);
    out[kDescriptionSize - 1] = '\0';
}

std::uintptr_t pointerValue(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// A simulated serial number: the location id in hex.
void serialNumber(const DeviceSlot& device, char* out) {
    std::snprintf(out, kDescriptionSize, "ZEF%08X", device.location);
}

bool matches(const DeviceSlot& device, const void* arg, DWORD openBy) {
    char serial[kDescriptionSize];
    switch (openBy) {
    case FT_OPEN_BY_LOCATION:
        return device.location == pointerValue(arg);
    case FT_OPEN_BY_DESCRIPTION:
        return arg != nullptr && device.description == static_cast<const char*>(arg);
    case FT_OPEN_BY_SERIAL_NUMBER:
        serialNumber(device, serial);
        return arg != nullptr && std::strcmp(serial, static_cast<const char*>(arg)) == 0;
    default:
        return false;
    }
}

// Under the lock; starts no thread (the caller does, after unlocking).
FT_STATUS openDevice(SimState& state, DeviceSlot* device, FT_HANDLE* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (device == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (device->held || device->port != nullptr) {
        return FT_DEVICE_NOT_OPENED;
    }
    const Port& port = openPort(state, *device, platform::nowMicroseconds());
    // A handle is an opaque token, never an address: a stale one cannot alias.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    *handle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(port.token));
    ++state.env.counters.opens;
    return FT_OK;
}

} // namespace

FT_STATUS createDeviceInfoList(DWORD* count) {
    ensureStartingState();
    SimState& state = simState();
    platform::LockGuard guard(state.lock);
    state.log.add("FT_CreateDeviceInfoList");
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *count = listedCount(state);
    return FT_OK;
}

FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags) {
    ensureStartingState();
    SimState& state = simState();
    platform::LockGuard guard(state.lock);
    if ((flags & FT_LIST_NUMBER_ONLY) != 0) {
        state.log.add(callLine("FT_ListDevices 0x%08X", flags).text);
        if (arg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        *static_cast<DWORD*>(arg1) = listedCount(state);
        return FT_OK;
    }
    const std::uintptr_t index = pointerValue(arg1);
    state.log.add(callLine("FT_ListDevices %u 0x%08X", static_cast<unsigned>(index), flags).text);
    if ((flags & FT_LIST_BY_INDEX) == 0 || arg2 == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    const DeviceSlot* device = listedDevice(state, index);
    if (device == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    switch (flags & kOpenByMask) {
    case FT_OPEN_BY_LOCATION:
        *static_cast<DWORD*>(arg2) = device->location;
        return FT_OK;
    case FT_OPEN_BY_DESCRIPTION:
        copyString(static_cast<char*>(arg2), device->description.c_str());
        return FT_OK;
    case FT_OPEN_BY_SERIAL_NUMBER:
        serialNumber(*device, static_cast<char*>(arg2));
        return FT_OK;
    default:
        return FT_INVALID_PARAMETER;
    }
}

FT_STATUS open(int index, FT_HANDLE* handle) {
    ensureStartingState();
    FT_STATUS status = FT_OK;
    {
        SimState& state = simState();
        platform::LockGuard guard(state.lock);
        state.log.add(callLine("FT_Open %d", index).text);
        DeviceSlot* device =
            index < 0 ? nullptr : listedDevice(state, static_cast<std::size_t>(index));
        status = openDevice(state, device, handle);
    }
    if (status == FT_OK) {
        ensureProducer();
    }
    return status;
}

FT_STATUS openEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    ensureStartingState();
    FT_STATUS status = FT_OK;
    {
        SimState& state = simState();
        platform::LockGuard guard(state.lock);
        if (flags == FT_OPEN_BY_LOCATION) {
            state.log.add(
                callLine("FT_OpenEx 0x%X %u", static_cast<unsigned>(pointerValue(arg)), flags)
                    .text);
        } else {
            state.log.add(callLine("FT_OpenEx \"%.63s\" %u",
                                   arg != nullptr ? static_cast<const char*>(arg) : "", flags)
                              .text);
        }
        DeviceSlot* device = nullptr;
        for (const auto& candidate : state.devices) {
            if (candidate->plugged && matches(*candidate, arg, flags)) {
                device = candidate.get();
                break;
            }
        }
        status = openDevice(state, device, handle);
    }
    if (status == FT_OK) {
        ensureProducer();
    }
    return status;
}

// Closing always releases the handle, even after a cable pull. A read or a
// write waiting on it returns at once; once the close returns, the driver's
// thread never touches the handle's event again.
FT_STATUS close(FT_HANDLE handle) {
    SimState& state = simState();
    {
        platform::LockGuard guard(state.lock);
        state.log.add("FT_Close");
        Port* port = findPort(state, handle);
        if (port == nullptr) {
            return FT_INVALID_HANDLE;
        }
        closePort(state, *port);
        ++state.env.counters.closes;
    }
    fenceEvents(state);
    return FT_OK;
}

} // namespace zef::sim::driver

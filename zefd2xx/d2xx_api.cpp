// The twenty-four entry points of FTDI's plain D2XX library, with its
// signatures, over libftdi1 and libusb-1.0.
#include "device_list.h"
#include "port.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

using namespace zef::d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API
using zef::zefd2xx::ListedBridge;
using zef::zefd2xx::Port;

namespace {

constexpr DWORD kListWhat = FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION | FT_OPEN_BY_LOCATION;

// The devices as FT_CreateDeviceInfoList last listed them: list indexes
// refer to this.
std::mutex listLock;
std::vector<ListedBridge> listed; // under listLock
bool listMade = false;            // under listLock

const std::vector<ListedBridge>& currentList() {
    if (!listMade) {
        listed = zef::zefd2xx::listBridges();
        listMade = true;
    }
    return listed;
}

// Open handles. A call holds its port alive, so FT_Close from another
// thread never frees one under it; FT_Close waits for the calls on it to
// end, which a read or write waiting does at once.
std::mutex portsLock;
std::condition_variable callEnded;
std::vector<std::shared_ptr<Port>> ports; // under portsLock

std::shared_ptr<Port> portOf(FT_HANDLE handle) {
    std::lock_guard guard(portsLock);
    for (const std::shared_ptr<Port>& port : ports) {
        if (port.get() == handle) {
            return port;
        }
    }
    return nullptr;
}

template <typename Call> FT_STATUS onPort(FT_HANDLE handle, Call call) {
    std::shared_ptr<Port> port = portOf(handle);
    if (!port) {
        return FT_INVALID_HANDLE;
    }
    const FT_STATUS status = call(*port);
    {
        std::lock_guard guard(portsLock);
        port.reset();
    }
    callEnded.notify_all();
    return status;
}

FT_STATUS openAt(std::uint32_t location, FT_HANDLE* handle) {
    std::unique_ptr<Port> opened;
    const FT_STATUS status = Port::open(location, opened);
    if (status != FT_OK) {
        return status;
    }
    *handle = opened.get();
    std::lock_guard guard(portsLock);
    ports.emplace_back(std::move(opened));
    return FT_OK;
}

void copyString(const std::string& text, void* buffer) {
    const std::size_t n = std::min(text.size(), kDescriptionSize - 1);
    std::memcpy(buffer, text.data(), n);
    static_cast<char*>(buffer)[n] = '\0';
}

FT_STATUS describe(const ListedBridge& bridge, DWORD what, void* buffer) {
    switch (what) {
    case FT_OPEN_BY_SERIAL_NUMBER:
        copyString(bridge.serial, buffer);
        return FT_OK;
    case FT_OPEN_BY_DESCRIPTION:
        copyString(bridge.description, buffer);
        return FT_OK;
    case FT_OPEN_BY_LOCATION:
        *static_cast<DWORD*>(buffer) = bridge.location;
        return FT_OK;
    default:
        return FT_INVALID_PARAMETER;
    }
}

} // namespace

#define ZEFD2XX_API extern "C" __attribute__((visibility("default"))) FT_STATUS

ZEFD2XX_API FT_CreateDeviceInfoList(DWORD* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    std::lock_guard guard(listLock);
    listed = zef::zefd2xx::listBridges();
    listMade = true;
    *count = static_cast<DWORD>(listed.size());
    return FT_OK;
}

ZEFD2XX_API FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    std::lock_guard guard(listLock);
    const std::vector<ListedBridge>& bridges = currentList();
    const DWORD what = flags & kListWhat;
    if ((flags & FT_LIST_NUMBER_ONLY) != 0) {
        if (arg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(bridges.size());
        return FT_OK;
    }
    if ((flags & FT_LIST_BY_INDEX) != 0) {
        const auto index = reinterpret_cast<std::uintptr_t>(arg1);
        if (arg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        if (index >= bridges.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        return describe(bridges[index], what, arg2);
    }
    if ((flags & FT_LIST_ALL) != 0) {
        if (arg1 == nullptr || arg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        for (std::size_t i = 0; i < bridges.size(); ++i) {
            void* slot = what == FT_OPEN_BY_LOCATION
                             ? static_cast<void*>(static_cast<DWORD*>(arg1) + i)
                             : static_cast<void**>(arg1)[i];
            if (slot == nullptr || describe(bridges[i], what, slot) != FT_OK) {
                return FT_INVALID_PARAMETER;
            }
        }
        *static_cast<DWORD*>(arg2) = static_cast<DWORD>(bridges.size());
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

ZEFD2XX_API FT_Open(int index, FT_HANDLE* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    std::uint32_t location = 0;
    {
        std::lock_guard guard(listLock);
        const std::vector<ListedBridge>& bridges = currentList();
        if (index < 0 || static_cast<std::size_t>(index) >= bridges.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        location = bridges[static_cast<std::size_t>(index)].location;
    }
    return openAt(location, handle);
}

ZEFD2XX_API FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    if (handle == nullptr || (flags != FT_OPEN_BY_LOCATION && arg == nullptr)) {
        return FT_INVALID_PARAMETER;
    }
    const auto wanted = [&](const ListedBridge& bridge) {
        switch (flags) {
        case FT_OPEN_BY_SERIAL_NUMBER:
            return bridge.serial == static_cast<const char*>(arg);
        case FT_OPEN_BY_DESCRIPTION:
            return bridge.description == static_cast<const char*>(arg);
        case FT_OPEN_BY_LOCATION:
            return bridge.location == reinterpret_cast<std::uintptr_t>(arg);
        default:
            return false;
        }
    };
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION &&
        flags != FT_OPEN_BY_LOCATION) {
        return FT_INVALID_PARAMETER;
    }
    for (const ListedBridge& bridge : zef::zefd2xx::listBridges()) {
        if (wanted(bridge)) {
            return openAt(bridge.location, handle);
        }
    }
    return FT_DEVICE_NOT_FOUND;
}

// Returns with the interface released, so that it can be opened again at
// once, by this program or another.
ZEFD2XX_API FT_Close(FT_HANDLE handle) {
    std::shared_ptr<Port> closing;
    {
        std::lock_guard guard(portsLock);
        for (auto it = ports.begin(); it != ports.end(); ++it) {
            if (it->get() == handle) {
                closing = std::move(*it);
                ports.erase(it);
                break;
            }
        }
    }
    if (!closing) {
        return FT_INVALID_HANDLE;
    }
    closing->close();
    std::unique_lock lock(portsLock);
    callEnded.wait(lock, [&] { return closing.use_count() == 1; });
    lock.unlock();
    closing.reset();
    return FT_OK;
}

ZEFD2XX_API FT_Read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    return onPort(handle, [&](Port& port) { return port.read(buffer, size, got); });
}

ZEFD2XX_API FT_Write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    return onPort(handle, [&](Port& port) { return port.write(buffer, size, written); });
}

ZEFD2XX_API FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return onPort(handle, [&](Port& port) { return port.queueStatus(rxBytes); });
}

ZEFD2XX_API FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    return onPort(handle, [&](Port& port) { return port.status(rxBytes, txBytes, events); });
}

ZEFD2XX_API FT_ResetDevice(FT_HANDLE handle) {
    return onPort(handle, [](Port& port) { return port.resetDevice(); });
}

ZEFD2XX_API FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return onPort(handle, [baud](Port& port) { return port.setBaudRate(baud); });
}

ZEFD2XX_API FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity) {
    return onPort(handle,
                  [=](Port& port) { return port.setDataCharacteristics(bits, stop, parity); });
}

ZEFD2XX_API FT_GetModemStatus(FT_HANDLE handle, ULONG* status) {
    return onPort(handle, [status](Port& port) { return port.modemStatus(status); });
}

ZEFD2XX_API FT_SetFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) {
    return onPort(handle, [=](Port& port) { return port.setFlowControl(mode, xon, xoff); });
}

ZEFD2XX_API FT_SetRts(FT_HANDLE handle) {
    return onPort(handle, [](Port& port) { return port.setRts(); });
}

ZEFD2XX_API FT_SetChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn) {
    return onPort(handle,
                  [=](Port& port) { return port.setChars(event, eventOn, error, errorOn); });
}

ZEFD2XX_API FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return onPort(handle, [=](Port& port) { return port.setTimeouts(readMs, writeMs); });
}

ZEFD2XX_API FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    return onPort(handle, [=](Port& port) { return port.setLatencyTimer(milliseconds); });
}

ZEFD2XX_API FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return onPort(handle, [=](Port& port) { return port.setBitMode(mask, mode); });
}

ZEFD2XX_API FT_Purge(FT_HANDLE handle, ULONG mask) {
    return onPort(handle, [mask](Port& port) { return port.purge(mask); });
}

ZEFD2XX_API FT_StopInTask(FT_HANDLE handle) {
    return onPort(handle, [](Port& port) { return port.stopInTask(); });
}

ZEFD2XX_API FT_RestartInTask(FT_HANDLE handle) {
    return onPort(handle, [](Port& port) { return port.restartInTask(); });
}

ZEFD2XX_API FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    return onPort(handle, [=](Port& port) { return port.setEventNotification(mask, param); });
}

ZEFD2XX_API FT_CyclePort(FT_HANDLE handle) {
    return onPort(handle, [](Port& port) { return port.cyclePort(); });
}

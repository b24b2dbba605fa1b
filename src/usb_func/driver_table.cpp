#include "driver_table.h"

#include "bridge_report.h"
#include "driver_choice.h"
#include "platform/platform.h"
#include "plugin/device_state.h"

#include <cstring>

namespace zef {

DriverTable driverTable;

namespace {

platform::Library driverLibrary = nullptr; // the host thread that binds owns it

// What the last binding loaded or tried, for the words of a status; read
// from any thread.
platform::Mutex filesLock;
DriverFiles files; // under filesLock

void noteFiles(const DriverFiles& noted) {
    platform::LockGuard guard(filesLock);
    files = noted;
}

std::string fileOf(platform::Library library, const std::string& loaded) {
#if defined(_WIN32)
    (void)library;
    return loaded;
#else
    const std::string file = platform::libraryFile(library);
    return file.empty() ? loaded : file;
#endif
}

// The Wine bridge names the Linux library behind it: a status then names
// both ends.
bool loadFirst() {
    DriverFiles noted;
    for (const DriverCandidate& candidate : driverCandidates()) {
        driverLibrary = platform::loadLibrary(candidate.file.c_str());
        if (driverLibrary != nullptr) {
            (candidate.bridge ? deviceState.bridgeLibrary : deviceState.plainLibrary).store(true);
            const std::string linuxSide = candidate.bridge ? bridgeLinuxLibrary() : "";
            noteFiles({fileOf(driverLibrary, candidate.file) +
                           (linuxSide.empty() ? "" : " \u2192 " + linuxSide),
                       "", ""});
            return true;
        }
        if (candidate.bridge) {
            noted.bridgeFailure = bridgeFailure();
        }
        noted.tried += (noted.tried.empty() ? "" : ", ") + candidate.file;
    }
    noteFiles(noted);
    return false;
}

enum Slot : std::size_t {
    kOpen,
    kClose,
    kRead,
    kWrite,
    kGetQueueStatus,
    kResetDevice,
    kSetBaudRate,
    kSetTimeouts,
    kSetLatencyTimer,
    kListDevices,
    kOpenEx,
    kCreateDeviceInfoList,
    kSetBitMode,
    kStopInTask,
    kRestartInTask,
    kPurge,
    kCyclePort,
    kSetDataCharacteristics,
    kGetModemStatus,
    kSetFlowControl,
    kSetRts,
    kSetChars,
    kSetEventNotification,
    kGetStatus,
};

template <Slot slot, typename... Args> FT_STATUS forward(Args... args) {
    void* address = driverTable.slots[slot].load(std::memory_order_acquire);
    if (address == nullptr) {
        return kUnboundStatus;
    }
    using Function = FT_STATUS(ZEF_WINAPI*)(Args...);
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(address));
    std::memcpy(&function, &address, sizeof(function));
    return function(args...);
}

std::uint32_t resolve(std::size_t slotCount, const char* prefix) {
    char name[64];
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        std::strcpy(name, prefix);
        std::strcat(name, kSlotNames[slot]);
        void* address = platform::findSymbol(driverLibrary, name);
        driverTable.slots[slot].store(address, std::memory_order_release);
        if (address == nullptr) {
            return slot < kCommonSlots
                       ? kMissingCommonBase + static_cast<std::uint32_t>(slot)
                       : kMissingExtraBase + static_cast<std::uint32_t>(slot - kCommonSlots);
        }
    }
    return 0;
}

} // namespace

DriverFiles driverFiles() {
    platform::LockGuard guard(filesLock);
    return files;
}

std::uint32_t BindDriver() {
    auto noLibrary = [] {
        return !deviceState.bridgeLibrary.load() && !deviceState.plainLibrary.load();
    };
    // The bridge library first, then FTDI's (then the open driver), unless
    // one was chosen; the first that loads stays for the life of the process.
    if (noLibrary() && !loadFirst()) {
        return kNoDriverLibrary;
    }
    if (deviceState.bridgeLibrary.load()) {
        return resolve(kCommonSlots, "lin_");
    }
    return resolve(kAllSlots, "");
}

FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
    return forward<kOpen>(index, handle);
}
FT_STATUS FT_Close(FT_HANDLE handle) {
    return forward<kClose>(handle);
}
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    return forward<kRead>(handle, buffer, size, got);
}
FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD size, DWORD* written) {
    // D2XX declares the buffer non-const but never writes to it.
    return forward<kWrite>(handle, const_cast<void*>(buffer), size, written);
}
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return forward<kGetQueueStatus>(handle, rxBytes);
}
FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
    return forward<kResetDevice>(handle);
}
FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return forward<kSetBaudRate>(handle, baud);
}
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return forward<kSetTimeouts>(handle, readMs, writeMs);
}
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    return forward<kSetLatencyTimer>(handle, milliseconds);
}
FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return forward<kListDevices>(arg1, arg2, flags);
}
FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    return forward<kOpenEx>(arg, flags, handle);
}
FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
    return forward<kCreateDeviceInfoList>(count);
}
FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return forward<kSetBitMode>(handle, mask, mode);
}
FT_STATUS FT_StopInTask(FT_HANDLE handle) {
    return forward<kStopInTask>(handle);
}
FT_STATUS FT_RestartInTask(FT_HANDLE handle) {
    return forward<kRestartInTask>(handle);
}
FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) {
    return forward<kPurge>(handle, mask);
}
FT_STATUS FT_CyclePort(FT_HANDLE handle) {
    return forward<kCyclePort>(handle);
}
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity) {
    return forward<kSetDataCharacteristics>(handle, bits, stop, parity);
}
FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG* status) {
    return forward<kGetModemStatus>(handle, status);
}
FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) {
    return forward<kSetFlowControl>(handle, mode, xon, xoff);
}
FT_STATUS FT_SetRts(FT_HANDLE handle) {
    return forward<kSetRts>(handle);
}
FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn) {
    return forward<kSetChars>(handle, event, eventOn, error, errorOn);
}
FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    return forward<kSetEventNotification>(handle, mask, param);
}
FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    return forward<kGetStatus>(handle, rxBytes, txBytes, events);
}

} // namespace zef

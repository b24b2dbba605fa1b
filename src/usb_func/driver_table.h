// The D2XX driver, bound at run time. `BindDriver` loads the bridge library or
// FTDI's own, and resolves its entry points into `DriverTable`; every driver
// call in the plug-in goes through the forwarding operations below, which bear
// the D2XX names and return the D2XX status unchanged.
#pragma once

#include "zef/d2xx.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace zef {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

inline constexpr std::size_t kCommonSlots = 16;
inline constexpr std::size_t kAllSlots = 24;

// Binding statuses; D2XX statuses are all below these.
inline constexpr std::uint32_t kNoDriverLibrary = 100;
inline constexpr std::uint32_t kMissingCommonBase = 110; // slots 1-16: 110-125
inline constexpr std::uint32_t kMissingExtraBase = 130;  // slots 17-24: 130-137
// What a forwarder returns when its slot is empty.
inline constexpr FT_STATUS kUnboundStatus = FT_DEVICE_NOT_OPENED;

#if defined(_WIN32)
inline constexpr const char* kBridgeLibraryFile = "lin_ftd2xx.dll";
inline constexpr const char* kPlainLibraryFile = "ftd2xx.dll";
#else
inline constexpr const char* kBridgeLibraryFile = "liblin_ftd2xx.so";
inline constexpr const char* kPlainLibraryFile = "libftd2xx.so";
#endif

// Slot names in resolution order; the bridge library prefixes them with "lin_".
inline constexpr std::array<const char*, kAllSlots> kSlotNames = {
    "FT_Open",
    "FT_Close",
    "FT_Read",
    "FT_Write",
    "FT_GetQueueStatus",
    "FT_ResetDevice",
    "FT_SetBaudRate",
    "FT_SetTimeouts",
    "FT_SetLatencyTimer",
    "FT_ListDevices",
    "FT_OpenEx",
    "FT_CreateDeviceInfoList",
    "FT_SetBitMode",
    "FT_StopInTask",
    "FT_RestartInTask",
    "FT_Purge",
    "FT_CyclePort",
    "FT_SetDataCharacteristics",
    "FT_GetModemStatus",
    "FT_SetFlowControl",
    "FT_SetRts",
    "FT_SetChars",
    "FT_SetEventNotification",
    "FT_GetStatus",
};

// Each slot is written whole by a binding on a host thread and read by the
// worker; a rebinding stores the address the slot already held.
struct DriverTable {
    std::array<std::atomic<void*>, kAllSlots> slots{};
};

extern DriverTable driverTable;

// 0, 100 (no library), or the status of the first missing slot.
std::uint32_t BindDriver();

struct DriverFiles {
    std::string bound;         // the file of the bound library ("lin_ftd2xx.dll → the Linux
                               // library" for the Wine bridge); "" until one is
    std::string tried;         // what a binding that found none tried, in order
    std::string bridgeFailure; // then: why the Wine bridge refused to load, if it did
};
DriverFiles driverFiles();

// Forwarding operations.
FT_STATUS FT_Open(int index, FT_HANDLE* handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got);
FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD size, DWORD* written);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baud);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds);
FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags);
FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS FT_CreateDeviceInfoList(DWORD* count);
FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
FT_STATUS FT_StopInTask(FT_HANDLE handle);
FT_STATUS FT_RestartInTask(FT_HANDLE handle);
FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask);
FT_STATUS FT_CyclePort(FT_HANDLE handle);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity);
FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG* status);
FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff);
FT_STATUS FT_SetRts(FT_HANDLE handle);
FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn);
FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* param);
FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events);

} // namespace zef

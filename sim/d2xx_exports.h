// The D2XX entry points that the simulated driver libraries export: plain
// names (libftd2xx.so / ftd2xx.dll), or with ZEFSIM_BRIDGE defined the
// "lin_" names of the bridge library (liblin_ftd2xx.so / lin_ftd2xx.dll).
// Tests that link the plain flavour call these declarations directly.
#pragma once

#include "zef/d2xx.h"

#if defined(ZEFSIM_BUILDING)
#if defined(_WIN32)
#define ZEFSIM_D2XX_API __declspec(dllexport)
#else
#define ZEFSIM_D2XX_API __attribute__((visibility("default")))
#endif
#else
#define ZEFSIM_D2XX_API
#endif

#if defined(ZEFSIM_BRIDGE)
#define ZEFSIM_NAME(name) lin_##name
#else
#define ZEFSIM_NAME(name) name
#endif

// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZEFSIM_ENTRY(name) ZEFSIM_D2XX_API zef::d2xx::FT_STATUS ZEF_WINAPI ZEFSIM_NAME(name)
// NOLINTEND(bugprone-macro-parentheses)

extern "C" {

// The common set, in both flavours.
ZEFSIM_ENTRY(FT_Open)(int index, zef::d2xx::FT_HANDLE* handle);
ZEFSIM_ENTRY(FT_Close)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_Read)
(zef::d2xx::FT_HANDLE handle, void* buffer, zef::d2xx::DWORD size, zef::d2xx::DWORD* got);
ZEFSIM_ENTRY(FT_Write)
(zef::d2xx::FT_HANDLE handle, void* buffer, zef::d2xx::DWORD size, zef::d2xx::DWORD* written);
ZEFSIM_ENTRY(FT_GetQueueStatus)(zef::d2xx::FT_HANDLE handle, zef::d2xx::DWORD* rxBytes);
ZEFSIM_ENTRY(FT_ResetDevice)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_SetBaudRate)(zef::d2xx::FT_HANDLE handle, zef::d2xx::ULONG baud);
ZEFSIM_ENTRY(FT_SetTimeouts)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::ULONG readMs, zef::d2xx::ULONG writeMs);
ZEFSIM_ENTRY(FT_SetLatencyTimer)(zef::d2xx::FT_HANDLE handle, zef::d2xx::UCHAR milliseconds);
ZEFSIM_ENTRY(FT_ListDevices)(void* arg1, void* arg2, zef::d2xx::DWORD flags);
ZEFSIM_ENTRY(FT_OpenEx)(void* arg, zef::d2xx::DWORD flags, zef::d2xx::FT_HANDLE* handle);
ZEFSIM_ENTRY(FT_CreateDeviceInfoList)(zef::d2xx::DWORD* count);
ZEFSIM_ENTRY(FT_SetBitMode)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::UCHAR mask, zef::d2xx::UCHAR mode);
ZEFSIM_ENTRY(FT_StopInTask)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_RestartInTask)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_Purge)(zef::d2xx::FT_HANDLE handle, zef::d2xx::ULONG mask);

// The extra set, plain flavour only.
ZEFSIM_ENTRY(FT_CyclePort)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_SetDataCharacteristics)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::UCHAR bits, zef::d2xx::UCHAR stop,
 zef::d2xx::UCHAR parity);
ZEFSIM_ENTRY(FT_GetModemStatus)(zef::d2xx::FT_HANDLE handle, zef::d2xx::ULONG* status);
ZEFSIM_ENTRY(FT_SetFlowControl)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::USHORT mode, zef::d2xx::UCHAR xon, zef::d2xx::UCHAR xoff);
ZEFSIM_ENTRY(FT_SetRts)(zef::d2xx::FT_HANDLE handle);
ZEFSIM_ENTRY(FT_SetChars)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::UCHAR event, zef::d2xx::UCHAR eventOn,
 zef::d2xx::UCHAR error, zef::d2xx::UCHAR errorOn);
ZEFSIM_ENTRY(FT_SetEventNotification)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::DWORD mask, void* param);
ZEFSIM_ENTRY(FT_GetStatus)
(zef::d2xx::FT_HANDLE handle, zef::d2xx::DWORD* rxBytes, zef::d2xx::DWORD* txBytes,
 zef::d2xx::DWORD* events);

} // extern "C"

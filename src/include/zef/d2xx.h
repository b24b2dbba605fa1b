// FTDI's D2XX interface as every model of the driver here sees it: the
// plug-in that calls it, the simulated instrument, the open driver
// libzefd2xx and the Wine bridge. D2XX integers are 32 bits on every
// platform (never `unsigned long`), and its functions are __stdcall on
// 32-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZEF_WINAPI __stdcall
#else
#define ZEF_WINAPI
#include <pthread.h>
#endif

namespace zef::d2xx {

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
};

inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
inline constexpr DWORD FT_OPEN_BY_LOCATION = 4;
inline constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
inline constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
inline constexpr DWORD FT_LIST_ALL = 0x20000000;
inline constexpr DWORD FT_EVENT_RXCHAR = 1;
inline constexpr ULONG FT_PURGE_RX = 1;
inline constexpr ULONG FT_PURGE_TX = 2;
inline constexpr USHORT FT_FLOW_NONE = 0x0000;
inline constexpr USHORT FT_FLOW_RTS_CTS = 0x0100;
inline constexpr ULONG FT_MODEM_STATUS_CTS = 0x10;
inline constexpr UCHAR FT_BITMODE_RESET = 0;
inline constexpr UCHAR FT_BITMODE_ASYNC_BITBANG = 1;

// A description as D2XX lists it: zero-terminated in a 64-byte buffer.
inline constexpr std::size_t kDescriptionSize = 64;

#if !defined(_WIN32)
// What FT_SetEventNotification takes on Linux, laid out as FTDI's library
// has it: the driver locks eMutex and signals eCondVar.
struct EVENT_HANDLE {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};
#endif

} // namespace zef::d2xx

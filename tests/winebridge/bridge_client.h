// bridge_client.exe: the Windows side of the Wine bridge tests. It loads
// lin_ftd2xx.dll (or ExtIO_Zef.dll) by bare name, as a host does, and prints
// one line per finding on stdout, which the Linux side of the test reads.
#pragma once

#include "zef/d2xx.h"

#include <windows.h>

#include <cstdio>

namespace zef::bridgeclient {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

// A line for the test, at once.
template <typename... Args> void say(const char* format, Args... args) {
    std::printf(format, args...);
    std::printf("\n");
    std::fflush(stdout);
}

// The bridge library's exports by their names, typed as D2XX declares them.
struct BridgeCalls {
    HMODULE module = nullptr;
    FT_STATUS(ZEF_WINAPI* open)(int, FT_HANDLE*) = nullptr;
    FT_STATUS(ZEF_WINAPI* close)(FT_HANDLE) = nullptr;
    FT_STATUS(ZEF_WINAPI* read)(FT_HANDLE, void*, DWORD, DWORD*) = nullptr;
    FT_STATUS(ZEF_WINAPI* getQueueStatus)(FT_HANDLE, DWORD*) = nullptr;
    FT_STATUS(ZEF_WINAPI* setTimeouts)(FT_HANDLE, ULONG, ULONG) = nullptr;
    FT_STATUS(ZEF_WINAPI* listDevices)(void*, void*, DWORD) = nullptr;
    FT_STATUS(ZEF_WINAPI* createDeviceInfoList)(DWORD*) = nullptr;
};

// Loads lin_ftd2xx.dll; says why and returns false when it does not load.
bool loadBridge(BridgeCalls& calls);

int printExports();        // "export NAME" each, then "callee-cleans NAME BYTES" (32-bit)
int listAndOpen();         // the listing, its buffer bounds, an open, a stale handle
int readWhileUnplugged();  // "reading", then what the blocked read returned
int streamThroughPlugin(); // ExtIO_Zef.dll streaming across an unplug and replug

} // namespace zef::bridgeclient

// The Linux D2XX library behind the bridge. It is chosen as the plug-in
// chooses on Linux (usb_func/driver_choice.h): ZEF_D2XX when set, else FTDI's
// libftd2xx.so when the loader finds it, else the open driver libzefd2xx
// installed beside the bridge. The first that loads and has every entry point
// the bridge calls is bound, for the life of the process.
#pragma once

#include "usb_func/driver_choice.h"
#include "zef/d2xx.h"

#include <string>
#include <vector>

namespace zef::winebridge {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

// The plain D2XX entry points the bridge forwards to (FT_Open is not among
// them: the bridge opens by location, so that it takes only what it lists).
struct LinuxD2xx {
    FT_STATUS (*close)(FT_HANDLE) = nullptr;
    FT_STATUS (*read)(FT_HANDLE, void*, DWORD, DWORD*) = nullptr;
    FT_STATUS (*write)(FT_HANDLE, void*, DWORD, DWORD*) = nullptr;
    FT_STATUS (*getQueueStatus)(FT_HANDLE, DWORD*) = nullptr;
    FT_STATUS (*resetDevice)(FT_HANDLE) = nullptr;
    FT_STATUS (*setBaudRate)(FT_HANDLE, ULONG) = nullptr;
    FT_STATUS (*setTimeouts)(FT_HANDLE, ULONG, ULONG) = nullptr;
    FT_STATUS (*setLatencyTimer)(FT_HANDLE, UCHAR) = nullptr;
    FT_STATUS (*listDevices)(void*, void*, DWORD) = nullptr;
    FT_STATUS (*openEx)(void*, DWORD, FT_HANDLE*) = nullptr;
    FT_STATUS (*createDeviceInfoList)(DWORD*) = nullptr;
    FT_STATUS (*setBitMode)(FT_HANDLE, UCHAR, UCHAR) = nullptr;
    FT_STATUS (*stopInTask)(FT_HANDLE) = nullptr;
    FT_STATUS (*restartInTask)(FT_HANDLE) = nullptr;
    FT_STATUS (*purge)(FT_HANDLE, ULONG) = nullptr;
};

struct Binding {
    bool bound = false;
    std::string file;    // the library bound, as the loader found it
    std::string failure; // otherwise every candidate, with why it failed
    LinuxD2xx d2xx;
};

// The plug-in's order without its bridge library (which is us).
std::vector<DriverCandidate> linuxCandidates();

Binding bindLinuxD2xx(const std::vector<DriverCandidate>& candidates);

} // namespace zef::winebridge

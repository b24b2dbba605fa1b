// lin_ftd2xx.dll's sixteen exports and its DllMain. The loader binds the
// Linux D2XX library once per process; when none can be bound it says why
// and refuses to load, so the plug-in's binding reports status 100 (or goes
// on to ftd2xx.dll) instead of talking to nothing. Each export hands its
// arguments to the bridge with the process's asynchronous signals blocked:
// threads that the Linux libraries start inside a call inherit that mask, so
// none of them ever runs one of Wine's signal handlers, which expect a Wine
// thread.
#include "bridge.h"
#include "bridge_abi.h"
#include "windows_report.h"

#include <csignal>
#include <new>
#include <pthread.h>
#include <string>

using namespace zef::d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API
using zef::winebridge::Bridge;

namespace {

constexpr unsigned kProcessAttach = 1;

// Made by the first attach and kept: the Linux library's handles and
// threads outlive any FreeLibrary of ours.
Bridge* bridge = nullptr;               // written under Windows' loader lock only
const std::string* boundFile = nullptr; // likewise

class QuietSignals {
  public:
    QuietSignals() {
        sigset_t quiet;
        sigfillset(&quiet);
        // Faults stay deliverable, so Wine still reports a crash as one.
        for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) {
            sigdelset(&quiet, fault);
        }
        pthread_sigmask(SIG_BLOCK, &quiet, &saved_);
    }
    ~QuietSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    QuietSignals(const QuietSignals&) = delete;
    QuietSignals& operator=(const QuietSignals&) = delete;

  private:
    sigset_t saved_{};
};

template <typename Operation> FT_STATUS call(Operation operation) {
    if (bridge == nullptr) {
        return FT_DEVICE_NOT_OPENED;
    }
    const QuietSignals quiet;
    try {
        return operation(*bridge);
    } catch (...) { // nothing may unwind into Windows code
        return FT_INSUFFICIENT_RESOURCES;
    }
}

bool attach() {
    if (bridge != nullptr) {
        zef::winebridge::reportLinuxLibrary(*boundFile); // loaded again after a FreeLibrary
        return true;
    }
    const QuietSignals quiet;
    try {
        const zef::winebridge::Binding binding =
            zef::winebridge::bindLinuxD2xx(zef::winebridge::linuxCandidates());
        if (!binding.bound) {
            zef::winebridge::reportFailure(binding.failure);
            return false;
        }
        boundFile = new std::string(binding.file);
        bridge = new Bridge(binding.d2xx);
        zef::winebridge::reportLinuxLibrary(binding.file);
        return true;
    } catch (...) {
        zef::winebridge::reportFailure("out of memory");
        return false;
    }
}

} // namespace

#define ZEF_EXPORT extern "C" ZEF_BRIDGE_ENTRY

ZEF_EXPORT int DllMain(void* /*instance*/, unsigned reason, void* /*reserved*/) {
    return reason != kProcessAttach || attach() ? 1 : 0;
}

ZEF_EXPORT FT_STATUS lin_FT_Open(int index, FT_HANDLE* handle) {
    return call([&](Bridge& b) { return b.open(index, handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_Close(FT_HANDLE handle) {
    return call([&](Bridge& b) { return b.close(handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_Read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    return call([&](Bridge& b) { return b.read(handle, buffer, size, got); });
}
ZEF_EXPORT FT_STATUS lin_FT_Write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    return call([&](Bridge& b) { return b.write(handle, buffer, size, written); });
}
ZEF_EXPORT FT_STATUS lin_FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return call([&](Bridge& b) { return b.getQueueStatus(handle, rxBytes); });
}
ZEF_EXPORT FT_STATUS lin_FT_ResetDevice(FT_HANDLE handle) {
    return call([&](Bridge& b) { return b.resetDevice(handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return call([&](Bridge& b) { return b.setBaudRate(handle, baud); });
}
ZEF_EXPORT FT_STATUS lin_FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return call([&](Bridge& b) { return b.setTimeouts(handle, readMs, writeMs); });
}
ZEF_EXPORT FT_STATUS lin_FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    return call([&](Bridge& b) { return b.setLatencyTimer(handle, milliseconds); });
}
ZEF_EXPORT FT_STATUS lin_FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return call([&](Bridge& b) { return b.listDevices(arg1, arg2, flags); });
}
ZEF_EXPORT FT_STATUS lin_FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    return call([&](Bridge& b) { return b.openEx(arg, flags, handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_CreateDeviceInfoList(DWORD* count) {
    return call([&](Bridge& b) { return b.createDeviceInfoList(count); });
}
ZEF_EXPORT FT_STATUS lin_FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return call([&](Bridge& b) { return b.setBitMode(handle, mask, mode); });
}
ZEF_EXPORT FT_STATUS lin_FT_StopInTask(FT_HANDLE handle) {
    return call([&](Bridge& b) { return b.stopInTask(handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_RestartInTask(FT_HANDLE handle) {
    return call([&](Bridge& b) { return b.restartInTask(handle); });
}
ZEF_EXPORT FT_STATUS lin_FT_Purge(FT_HANDLE handle, ULONG mask) {
    return call([&](Bridge& b) { return b.purge(handle, mask); });
}

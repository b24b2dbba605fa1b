// The watching D2XX library (d2xx_watch.h). It forwards to the library
// named by ZEF_WATCHED_D2XX, or to the open driver beside it.
#include "d2xx_watch.h"

#include "zef/d2xx.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace {

using namespace zef::d2xx; // NOLINT(google-build-using-namespace): D2XX names as FTDI has them

// libftdi1's own control-transfer time-out, which bounds every call but
// FT_Read and FT_Write.
constexpr std::uint32_t kControlMs = 5000;
constexpr std::uint32_t kGraceMs = 1000;

struct Timeouts {
    std::uint32_t readMs = 0;
    std::uint32_t writeMs = 0;
};

std::mutex lock;
std::set<FT_HANDLE> open;
std::map<FT_HANDLE, Timeouts> timeouts;
ZefWatchReport report{};

void* target() {
    static void* library = [] {
        const char* path = std::getenv("ZEF_WATCHED_D2XX");
        void* loaded = dlopen(path != nullptr ? path : ZEFD2XX_PATH, RTLD_NOW | RTLD_LOCAL);
        if (loaded == nullptr) {
            std::fprintf(stderr, "d2xx_watch: %s\n", dlerror());
        }
        return loaded;
    }();
    return library;
}

template <typename Function> Function* resolve(const char* name) {
    void* address = target() != nullptr ? dlsym(target(), name) : nullptr;
    Function* function = nullptr;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

void checkHandle(const char* name, FT_HANDLE handle) {
    std::lock_guard guard(lock);
    if (open.count(handle) == 0) {
        ++report.closedHandleCalls;
        std::snprintf(report.closedCall, sizeof report.closedCall, "%s", name);
    }
}

std::uint32_t boundOf(const char* name, FT_HANDLE handle) {
    std::lock_guard guard(lock);
    const Timeouts set = timeouts.count(handle) != 0 ? timeouts[handle] : Timeouts{};
    const std::uint32_t own = std::strcmp(name, "FT_Read") == 0    ? set.readMs
                              : std::strcmp(name, "FT_Write") == 0 ? set.writeMs
                                                                   : kControlMs;
    return own == 0 ? UINT32_MAX - kGraceMs : own; // 0: no time-out at all
}

// Forwards one call, timing it against the bound its handle had on entry.
template <typename Function, typename... Args>
FT_STATUS watched(const char* name, FT_HANDLE handle, bool hasHandle, Args... args) {
    static_assert(sizeof(Function*) == sizeof(void*));
    if (hasHandle) {
        checkHandle(name, handle);
    }
    const std::uint32_t bound = boundOf(name, handle) + kGraceMs;
    auto* function = resolve<Function>(name);
    const auto start = std::chrono::steady_clock::now();
    const FT_STATUS status = function != nullptr ? function(args...) : FT_DEVICE_NOT_FOUND;
    const auto tookMs =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count());
    std::lock_guard guard(lock);
    ++report.calls;
    if (tookMs > bound) {
        ++report.lateCalls;
        report.worstOverrunMs =
            std::max(report.worstOverrunMs, static_cast<std::uint32_t>(tookMs - bound));
        std::snprintf(report.worstCall, sizeof report.worstCall, "%s", name);
    }
    return status;
}

void opened(FT_STATUS status, FT_HANDLE* handle) {
    if (status == FT_OK && handle != nullptr) {
        std::lock_guard guard(lock);
        open.insert(*handle);
        timeouts[*handle] = Timeouts{};
    }
}

} // namespace

// The entry points, as FTDI declares them. A call with a handle is checked.
#define ZEF_WATCH(name, params, args)                                                              \
    extern "C" __attribute__((visibility("default"))) FT_STATUS name params {                      \
        return watched<FT_STATUS params>(#name, handle, true, args);                               \
    }
#define ZEF_WATCH_NO_HANDLE(name, params, args)                                                    \
    extern "C" __attribute__((visibility("default"))) FT_STATUS name params {                      \
        return watched<FT_STATUS params>(#name, nullptr, false, args);                             \
    }
#define ZEF_ARGS(...) __VA_ARGS__

// NOLINTBEGIN(readability-identifier-naming,bugprone-macro-parentheses)
ZEF_WATCH(FT_Read, (FT_HANDLE handle, void* buffer, DWORD size, DWORD* got),
          ZEF_ARGS(handle, buffer, size, got))
ZEF_WATCH(FT_Write, (FT_HANDLE handle, void* buffer, DWORD size, DWORD* written),
          ZEF_ARGS(handle, buffer, size, written))
ZEF_WATCH(FT_GetQueueStatus, (FT_HANDLE handle, DWORD* queued), ZEF_ARGS(handle, queued))
ZEF_WATCH(FT_ResetDevice, (FT_HANDLE handle), ZEF_ARGS(handle))
ZEF_WATCH(FT_SetBaudRate, (FT_HANDLE handle, ULONG baud), ZEF_ARGS(handle, baud))
ZEF_WATCH(FT_SetLatencyTimer, (FT_HANDLE handle, UCHAR ms), ZEF_ARGS(handle, ms))
ZEF_WATCH(FT_SetBitMode, (FT_HANDLE handle, UCHAR mask, UCHAR mode), ZEF_ARGS(handle, mask, mode))
ZEF_WATCH(FT_StopInTask, (FT_HANDLE handle), ZEF_ARGS(handle))
ZEF_WATCH(FT_RestartInTask, (FT_HANDLE handle), ZEF_ARGS(handle))
ZEF_WATCH(FT_Purge, (FT_HANDLE handle, ULONG mask), ZEF_ARGS(handle, mask))
ZEF_WATCH(FT_CyclePort, (FT_HANDLE handle), ZEF_ARGS(handle))
ZEF_WATCH(FT_SetDataCharacteristics, (FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity),
          ZEF_ARGS(handle, bits, stop, parity))
ZEF_WATCH(FT_GetModemStatus, (FT_HANDLE handle, ULONG* status), ZEF_ARGS(handle, status))
ZEF_WATCH(FT_SetFlowControl, (FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff),
          ZEF_ARGS(handle, mode, xon, xoff))
ZEF_WATCH(FT_SetRts, (FT_HANDLE handle), ZEF_ARGS(handle))
ZEF_WATCH(FT_SetChars, (FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn),
          ZEF_ARGS(handle, event, eventOn, error, errorOn))
ZEF_WATCH(FT_SetEventNotification, (FT_HANDLE handle, DWORD mask, void* param),
          ZEF_ARGS(handle, mask, param))
ZEF_WATCH(FT_GetStatus, (FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* events),
          ZEF_ARGS(handle, rx, tx, events))
ZEF_WATCH_NO_HANDLE(FT_ListDevices, (void* arg1, void* arg2, DWORD flags),
                    ZEF_ARGS(arg1, arg2, flags))
ZEF_WATCH_NO_HANDLE(FT_CreateDeviceInfoList, (DWORD * count), ZEF_ARGS(count))
// NOLINTEND(readability-identifier-naming,bugprone-macro-parentheses)

extern "C" __attribute__((visibility("default"))) FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
    const FT_STATUS status =
        watched<FT_STATUS(int, FT_HANDLE*)>("FT_Open", nullptr, false, index, handle);
    opened(status, handle);
    return status;
}

extern "C" __attribute__((visibility("default"))) FT_STATUS FT_OpenEx(void* arg, DWORD flags,
                                                                      FT_HANDLE* handle) {
    const FT_STATUS status = watched<FT_STATUS(void*, DWORD, FT_HANDLE*)>(
        "FT_OpenEx", nullptr, false, arg, flags, handle);
    opened(status, handle);
    return status;
}

extern "C" __attribute__((visibility("default"))) FT_STATUS
FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    const FT_STATUS status = watched<FT_STATUS(FT_HANDLE, ULONG, ULONG)>(
        "FT_SetTimeouts", handle, true, handle, readMs, writeMs);
    if (status == FT_OK) {
        std::lock_guard guard(lock);
        timeouts[handle] = Timeouts{readMs, writeMs};
    }
    return status;
}

// The handle is forgotten before the close starts: nothing may use it then.
extern "C" __attribute__((visibility("default"))) FT_STATUS FT_Close(FT_HANDLE handle) {
    checkHandle("FT_Close", handle);
    {
        std::lock_guard guard(lock);
        open.erase(handle);
        timeouts.erase(handle);
    }
    return watched<FT_STATUS(FT_HANDLE)>("FT_Close", handle, false, handle);
}

extern "C" __attribute__((visibility("default"))) void zefwatch_report(ZefWatchReport* out) {
    std::lock_guard guard(lock);
    *out = report;
}

// The bridge library's export table as the loaded module carries it, and on
// 32-bit Windows whether each export removes its own arguments.
#include "bridge_client.h"

#include <cstdint>
#include <cstring>
#include <string>

#if defined(__i386__)
// callee_cleans_i386.S: calls `function` with `count` 32-bit arguments the
// way a __stdcall caller does and returns how many bytes the callee popped.
extern "C" std::uint32_t zefCalleeCleans(const void* function, const std::uint32_t* arguments,
                                         std::uint32_t count);
#endif

namespace zef::bridgeclient {

namespace {

#if defined(__i386__)
// Arguments each export refuses without touching a device: an unknown
// handle (or an index no list reaches) first, then null pointers and no
// flags; the one pointer-only call gets a null pointer.
struct Probe {
    const char* name;
    std::uint32_t count;
};
constexpr std::uint32_t kNoSuchHandle = 0x7FFFFFF0;
constexpr Probe kProbes[] = {
    {"lin_FT_Open", 2},        {"lin_FT_Close", 1},          {"lin_FT_Read", 4},
    {"lin_FT_Write", 4},       {"lin_FT_GetQueueStatus", 2}, {"lin_FT_ResetDevice", 1},
    {"lin_FT_SetBaudRate", 2}, {"lin_FT_SetTimeouts", 3},    {"lin_FT_SetLatencyTimer", 2},
    {"lin_FT_ListDevices", 3}, {"lin_FT_OpenEx", 3},         {"lin_FT_CreateDeviceInfoList", 1},
    {"lin_FT_SetBitMode", 3},  {"lin_FT_StopInTask", 1},     {"lin_FT_RestartInTask", 1},
    {"lin_FT_Purge", 2},
};

void probeCleanup(HMODULE module) {
    for (const Probe& probe : kProbes) {
        const bool pointerOnly = std::strcmp(probe.name, "lin_FT_CreateDeviceInfoList") == 0;
        const std::uint32_t arguments[4] = {pointerOnly ? 0 : kNoSuchHandle, 0, 0, 0};
        const void* function = reinterpret_cast<const void*>(GetProcAddress(module, probe.name));
        if (function == nullptr) {
            say("callee-cleans %s missing", probe.name);
            continue;
        }
        say("callee-cleans %s %lu of %lu", probe.name,
            static_cast<unsigned long>(zefCalleeCleans(function, arguments, probe.count)),
            static_cast<unsigned long>(4 * probe.count));
    }
}
#endif

} // namespace

int printExports() {
    BridgeCalls bridge;
    if (!loadBridge(bridge)) {
        return 1;
    }
    const auto* base = reinterpret_cast<const std::uint8_t*>(bridge.module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    say("functions %lu", static_cast<unsigned long>(exports->NumberOfFunctions));
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        say("export %s", reinterpret_cast<const char*>(base + names[i]));
    }
#if defined(__i386__)
    probeCleanup(bridge.module);
#endif
    return 0;
}

} // namespace zef::bridgeclient

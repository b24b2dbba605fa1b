// The bridge library called directly, as a D2XX program would.
#include "bridge_client.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace zef::bridgeclient {

namespace {

template <typename Function> void resolve(HMODULE module, const char* name, Function& slot) {
    FARPROC address = GetProcAddress(module, name);
    static_assert(sizeof(slot) == sizeof(address));
    std::memcpy(&slot, &address, sizeof slot);
}

void* indexArgument(DWORD index) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
}

constexpr DWORD kReadTimeoutMs = 3000;

} // namespace

bool loadBridge(BridgeCalls& calls) {
    calls.module = LoadLibraryA("lin_ftd2xx.dll");
    if (calls.module == nullptr) {
        say("not loaded %lu", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    resolve(calls.module, "lin_FT_Open", calls.open);
    resolve(calls.module, "lin_FT_Close", calls.close);
    resolve(calls.module, "lin_FT_Read", calls.read);
    resolve(calls.module, "lin_FT_GetQueueStatus", calls.getQueueStatus);
    resolve(calls.module, "lin_FT_SetTimeouts", calls.setTimeouts);
    resolve(calls.module, "lin_FT_ListDevices", calls.listDevices);
    resolve(calls.module, "lin_FT_CreateDeviceInfoList", calls.createDeviceInfoList);
    return true;
}

int listAndOpen() {
    BridgeCalls bridge;
    if (!loadBridge(bridge)) {
        return 1;
    }
    DWORD count = 0;
    const FT_STATUS listed = bridge.createDeviceInfoList(&count);
    say("count %lu %lu", static_cast<unsigned long>(listed), static_cast<unsigned long>(count));
    // Each description lands in the middle of a guarded buffer: nothing
    // beyond D2XX's 64 bytes may change.
    bool inBounds = true;
    for (DWORD index = 0; index < count; ++index) {
        std::array<std::uint8_t, 3 * kDescriptionSize> guarded{};
        guarded.fill(0xA5);
        char* description = reinterpret_cast<char*>(guarded.data() + kDescriptionSize);
        DWORD location = 0;
        const FT_STATUS byLocation = bridge.listDevices(indexArgument(index), &location,
                                                        FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION);
        const FT_STATUS byDescription = bridge.listDevices(
            indexArgument(index), description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
        for (std::size_t at = 0; at < guarded.size(); ++at) {
            const bool inside = at >= kDescriptionSize && at < 2 * kDescriptionSize;
            inBounds = inBounds && (inside || guarded[at] == 0xA5);
        }
        description[kDescriptionSize - 1] = '\0';
        say("device %lu %lu %lu 0x%lx %s", static_cast<unsigned long>(index),
            static_cast<unsigned long>(byLocation), static_cast<unsigned long>(byDescription),
            static_cast<unsigned long>(location), description);
    }
    say("bounds %s", inBounds ? "kept" : "overrun");
    DWORD beyond = 0;
    say("past-end %lu",
        static_cast<unsigned long>(bridge.listDevices(indexArgument(count), &beyond,
                                                      FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION)));
    FT_HANDLE handle = nullptr;
    say("open %lu", static_cast<unsigned long>(bridge.open(0, &handle)));
    say("close %lu", static_cast<unsigned long>(bridge.close(handle)));
    DWORD queued = 0;
    say("stale %lu", static_cast<unsigned long>(bridge.getQueueStatus(handle, &queued)));
    say("null %lu", static_cast<unsigned long>(bridge.createDeviceInfoList(nullptr)));
    return 0;
}

// No gateware is loaded, so the instrument sends nothing and the read waits
// inside the bridge until its time-out, or until the cable is pulled.
int readWhileUnplugged() {
    BridgeCalls bridge;
    if (!loadBridge(bridge)) {
        return 1;
    }
    FT_HANDLE handle = nullptr;
    DWORD count = 0;
    bridge.createDeviceInfoList(&count);
    const FT_STATUS opened = bridge.open(0, &handle);
    say("open %lu", static_cast<unsigned long>(opened));
    if (opened != FT_OK) {
        return 1;
    }
    bridge.setTimeouts(handle, kReadTimeoutMs, kReadTimeoutMs);
    std::array<std::uint8_t, 4096> bytes{};
    say("reading");
    DWORD got = 0;
    const DWORD before = GetTickCount();
    const FT_STATUS read = bridge.read(handle, bytes.data(), bytes.size(), &got);
    say("read %lu %lu %lu", static_cast<unsigned long>(read), static_cast<unsigned long>(got),
        static_cast<unsigned long>(GetTickCount() - before));
    DWORD queued = 0;
    say("queue %lu", static_cast<unsigned long>(bridge.getQueueStatus(handle, &queued)));
    say("close %lu", static_cast<unsigned long>(bridge.close(handle)));
    say("done");
    return 0;
}

} // namespace zef::bridgeclient

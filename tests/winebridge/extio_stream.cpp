// ExtIO_Zef.dll through the bridge across an unplug and a replug. The host
// calls nothing after its StartHW, as HDSDR does while it streams: the
// plug-in's worker finds the instrument again by itself. Nothing else is
// restarted: not the program, not Wine, not the bridge.
#include "bridge_client.h"
#include "extio_plugin.h"

#include <atomic>
#include <string>

namespace zef::bridgeclient {

namespace {

constexpr std::int32_t kLoHz = 7050000;
constexpr long kBlocksToSee = 20;
constexpr DWORD kStallMs = 1000;
constexpr DWORD kPhaseLimitMs = 60000;

std::atomic<long> blocks{0};

void EXTIO_CALLBACK_CALL onBlock(int count, int /*status*/, float /*iqOffset*/, void* data) {
    if (count == 512 && data != nullptr) {
        blocks.fetch_add(1);
    }
}

template <typename Condition> bool within(DWORD limitMs, Condition condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > limitMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

} // namespace

int streamThroughPlugin() {
    host::ExtioPlugin plugin;
    std::string error;
    if (!plugin.load("ExtIO_Zef.dll", error)) {
        say("not loaded %s", error.c_str());
        return 1;
    }
    const host::ExtioExports& extio = plugin.call();
    extio.SetCallback(&onBlock);
    char name[256] = {};
    char model[256] = {};
    int type = 0;
    extio.InitHW(name, model, &type);
    extio.OpenHW();
    extio.StartHW(kLoHz);
    if (!within(kPhaseLimitMs, [] { return blocks.load() >= kBlocksToSee; })) {
        say("no samples");
        return 1;
    }
    say("streaming %ld", blocks.load());

    long seen = blocks.load();
    DWORD changed = GetTickCount();
    const bool stalled = within(kPhaseLimitMs, [&] {
        if (blocks.load() != seen) {
            seen = blocks.load();
            changed = GetTickCount();
        }
        return GetTickCount() - changed >= kStallMs;
    });
    if (!stalled) {
        say("never stalled");
        return 1;
    }
    say("stalled %ld", blocks.load());

    const long before = blocks.load();
    const bool resumed =
        within(kPhaseLimitMs, [&] { return blocks.load() >= before + kBlocksToSee; });
    say(resumed ? "resumed %ld" : "not resumed %ld", blocks.load() - before);
    extio.StopHW();
    extio.CloseHW();
    say("done");
    return resumed ? 0 : 1;
}

} // namespace zef::bridgeclient

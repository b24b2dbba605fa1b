// A program that exits while the plug-in streams, without CloseHW: the
// plug-in is dlopen'ed, so at exit its static objects and the driver's end
// before its destructor function runs.
#include "extio_api.h"
#include "sim/zef_sim.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::atomic<std::uint64_t> blocks{0};
std::atomic<pid_t> workerThread{0}; // the thread the callback runs on

extern "C" void countBlock(int /*count*/, int /*status*/, float /*iqOffset*/, void* /*data*/) {
    workerThread.store(gettid());
    ++blocks;
}

bool threadRuns(pid_t thread) {
    return std::filesystem::exists("/proc/self/task/" + std::to_string(thread));
}

zefsim_counters counters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

// Registered before the plug-in loads, so it runs after every exit handler
// of the plug-in: by then the worker must be stopped and the device closed.
void checkAtExit() {
    const zefsim_counters c = counters();
    if (c.closes != c.opens || c.closed_handle_calls != 0) {
        std::fputs("at exit: the device is still open\n", stderr);
        std::_Exit(1);
    }
    // A joined thread leaves the task list at once; allow for a slow reap.
    if (!zef::test::waitUntil([] { return !threadRuns(workerThread.load()); })) {
        std::fputs("at exit: the worker still runs\n", stderr);
        std::_Exit(1);
    }
}

template <typename Function> Function resolve(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

void streamThenExit() {
    std::atexit(&checkAtExit);
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x2101, 0, 0);
    void* plugin = dlopen(ZEF_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        std::_Exit(2);
    }
    resolve<void (*)(ExtIOCallback)>(plugin, "SetCallback")(&countBlock);
    resolve<bool (*)(char*, char*, int*)>(plugin, "InitHW")(nullptr, nullptr, nullptr);
    resolve<int (*)(std::int32_t)>(plugin, "StartHW")(7050000);
    if (!zef::test::waitUntil([] { return blocks.load() >= 20; })) {
        std::_Exit(3);
    }
    std::exit(0);
}

TEST(Exit, WhileStreamingWithoutCloseHWStopsTheWorkerFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(streamThenExit(), testing::ExitedWithCode(0), "");
}

} // namespace

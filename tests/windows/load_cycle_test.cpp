// A host that loads and frees the plug-in again and again, with and without
// CloseHW. Without a driver present the worker idles, which is all the life
// cycle needs: it must never leak threads or run code that was unmapped.
#include "plugin/plugin_library.h"

#include "module_state.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using zef::test::eventually;
using zef::test::PluginLibrary;
using zef::test::pluginMapped;
using zef::test::threadsInProcess;

constexpr int kCycles = 100;
constexpr std::int32_t kLo = 7050000;

// Wine does not count handles (GetProcessHandleCount reports 0), but both it
// and Windows hand out the lowest free handle slot: a fresh handle's value
// climbs with every handle leaked before it.
std::uintptr_t freshHandleValue() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto value = reinterpret_cast<std::uintptr_t>(probe);
    CloseHandle(probe);
    return value;
}

void initAndStream(PluginLibrary& plugin) {
    char name[64] = {};
    char model[64] = {};
    int type = 0;
    ASSERT_TRUE(plugin->InitHW(name, model, &type));
    ASSERT_EQ(plugin->StartHW(kLo), 512);
    plugin->StopHW();
}

TEST(LoadCycle, CloseHWBeforeEachUnloadLeavesNothingBehind) {
    ASSERT_FALSE(pluginMapped());
    const unsigned threads = threadsInProcess();
    { // the first load may set up lasting process-wide things in the system
        PluginLibrary plugin(ZEF_PLUGIN_PATH);
        initAndStream(plugin);
        plugin->CloseHW();
    }
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        {
            PluginLibrary plugin(ZEF_PLUGIN_PATH);
            initAndStream(plugin);
            plugin->CloseHW();
        }
        ASSERT_TRUE(eventually([] { return !pluginMapped(); })) << "still mapped, cycle " << cycle;
        ASSERT_TRUE(eventually([&] { return threadsInProcess() == threads; }))
            << threadsInProcess() << " threads after cycle " << cycle << ", " << threads
            << " before";
    }
}

// Handles a number of cycles leave behind.
template <typename Cycle> std::uintptr_t handlesLeftBy(Cycle cycle) {
    const std::uintptr_t before = freshHandleValue();
    for (int i = 0; i < kCycles; ++i) {
        cycle();
    }
    return (freshHandleValue() - before) / 4; // handle values step by 4
}

// MinGW's static C++ runtime itself leaves a handle or two per load of any
// DLL; a session of the plug-in must add none to that.
TEST(LoadCycle, InitAndCloseAddNoHandlesToABareLoad) {
    handlesLeftBy([] { PluginLibrary plugin(ZEF_PLUGIN_PATH); }); // settle lazy set-up
    const std::uintptr_t bare = handlesLeftBy([] { PluginLibrary plugin(ZEF_PLUGIN_PATH); });
    const std::uintptr_t session = handlesLeftBy([] {
        PluginLibrary plugin(ZEF_PLUGIN_PATH);
        initAndStream(plugin);
        plugin->CloseHW();
    });
    EXPECT_LE(session, bare + 2) << "per " << kCycles << " sessions";
}

TEST(LoadCycle, UnloadWithoutCloseHWKeepsOneWorkerAlive) {
    const unsigned threads = threadsInProcess();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        {
            PluginLibrary plugin(ZEF_PLUGIN_PATH);
            initAndStream(plugin);
        }
        // The host has freed the library; the worker's code must stay mapped
        // while it runs a few more passes.
        if (cycle % 10 == 0) {
            Sleep(100);
        }
        ASSERT_TRUE(pluginMapped()) << "the running worker must pin its module";
        ASSERT_EQ(threadsInProcess(), threads + 1) << "cycle " << cycle;
    }
    { // a later host session that closes properly releases everything
        PluginLibrary plugin(ZEF_PLUGIN_PATH);
        plugin->CloseHW();
    }
    EXPECT_TRUE(eventually([] { return !pluginMapped(); }));
    EXPECT_TRUE(eventually([&] { return threadsInProcess() == threads; }));
}

TEST(LoadCycle, CloseHWWithoutInitHWUnloadsCleanly) {
    const unsigned threads = threadsInProcess();
    for (int cycle = 0; cycle < 10; ++cycle) {
        PluginLibrary plugin(ZEF_PLUGIN_PATH);
        plugin->StopHW();
        plugin->CloseHW();
    }
    EXPECT_TRUE(eventually([] { return !pluginMapped(); }));
    EXPECT_EQ(threadsInProcess(), threads);
}

} // namespace

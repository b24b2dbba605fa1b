// The DLL against the simulated ftd2xx.dll through host sequences that meet
// the module's life: CloseHW from inside the callback, FreeLibrary right
// after it, and an unload with a device open but no worker.
#include "extio_plugin.h"
#include "module_state.h"
#include "sim/device_frames.h"
#include "sim/zef_sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace {

using zef::test::eventually;
using zef::test::pluginMapped;
using zef::test::threadsInProcess;

zef::host::ExtioPlugin plugin;
std::atomic<bool> closeInCallback{false};
std::atomic<bool> closedInCallback{false};
// Set: the callback stays after its CloseHW until the host's FreeLibrary has
// returned, then returns into the plug-in's code.
std::atomic<bool> holdAfterClose{false};
std::atomic<bool> hostFreed{false};
std::atomic<std::uint64_t> blocks{0};
std::atomic<std::uint64_t> broken{0}; // bad count, bad body or a gap
std::atomic<std::int64_t> lastFrame{-1};

extern "C" void EXTIO_CALLBACK_CALL onBlock(int count, int /*status*/, float /*iqOffset*/,
                                            void* data) {
    const std::int64_t frame = zef::sim::patternFrameNumber(static_cast<const std::uint8_t*>(data));
    const std::int64_t previous = lastFrame.exchange(frame);
    if (count != 512 || frame < 0 || (previous >= 0 && frame != previous + 1)) {
        ++broken;
    }
    ++blocks;
    if (closeInCallback.exchange(false)) {
        plugin.call().CloseHW();
        closedInCallback = true;
        for (int i = 0; i < 500 && holdAfterClose.load() && !hostFreed.load(); ++i) {
            Sleep(10);
        }
    }
}

zefsim_counters counters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

class DllHostSequences : public testing::Test {
  protected:
    void SetUp() override {
        zefsim_reset();
        zefsim_add_device("ZEF418", 0x2101, 0, 0);
        holdAfterClose = false;
        hostFreed = false;
        threads_ = threadsInProcess();
        load();
    }
    void TearDown() override { plugin.unload(); }

    static void load() {
        std::string error;
        ASSERT_TRUE(plugin.load(ZEF_PLUGIN_PATH, error)) << error;
        plugin.call().SetCallback(&onBlock);
    }
    // A new configuration numbers its frames from 0 again.
    static void initAndStart() {
        lastFrame = -1;
        broken = 0;
        ASSERT_TRUE(plugin.call().InitHW(nullptr, nullptr, nullptr));
        ASSERT_EQ(plugin.call().StartHW(7050000), 512);
    }
    static bool blocksArrive(std::uint64_t more) {
        const std::uint64_t target = blocks.load() + more;
        for (int i = 0; i < 1000 && blocks.load() < target; ++i) {
            Sleep(10);
        }
        return blocks.load() >= target;
    }
    static bool closeFromTheCallback() {
        closedInCallback = false;
        closeInCallback = true;
        return eventually([] { return closedInCallback.load(); });
    }
    // Every reference the plug-in took on itself was given back, once.
    void expectFullyReleased() const {
        EXPECT_TRUE(eventually([] { return !pluginMapped(); }));
        EXPECT_EQ(counters().closes, counters().opens);
        EXPECT_EQ(counters().closed_handle_calls, 0U);
        zefsim_reset(); // stops the simulator's own thread
        EXPECT_TRUE(eventually([this] { return threadsInProcess() == threads_; }));
    }
    unsigned threads_ = 0;
};

TEST_F(DllHostSequences, CloseFromTheCallbackThenInitAndStartStreamsAgain) {
    initAndStart();
    ASSERT_TRUE(blocksArrive(10));
    ASSERT_TRUE(closeFromTheCallback());
    initAndStart();
    ASSERT_TRUE(blocksArrive(30)) << "the plug-in must work again without a restart";
    EXPECT_EQ(broken.load(), 0U);
    plugin.call().CloseHW();
    plugin.unload();
    expectFullyReleased();
}

TEST_F(DllHostSequences, FreeLibraryRightAfterCloseFromTheCallback) {
    initAndStart();
    ASSERT_TRUE(blocksArrive(10));
    holdAfterClose = true;
    ASSERT_TRUE(closeFromTheCallback());
    plugin.unload(); // the worker is still in the callback
    EXPECT_TRUE(pluginMapped()) << "the worker's own module reference keeps its code";
    hostFreed = true;
    expectFullyReleased();
}

TEST_F(DllHostSequences, UnloadWithTheDeviceOpenKeepsTheModuleUntilCloseHW) {
    // A first session leaves the gateware running, so the device streams
    // into the event as soon as it is opened again.
    initAndStart();
    ASSERT_TRUE(blocksArrive(10));
    plugin.call().CloseHW();
    plugin.unload();
    ASSERT_TRUE(eventually([] { return !pluginMapped(); }));
    zefsim_set_timing(ZEFSIM_REALTIME); // bytes keep arriving with nobody reading
    load();
    ASSERT_EQ(plugin.call().StartHW(7050000), 512); // a fresh module: opens, starts no worker
    ASSERT_EQ(counters().opens, 2U);
    plugin.unload();
    const std::uint64_t signalled = counters().events_signalled;
    ASSERT_TRUE(eventually([&] { return counters().events_signalled > signalled + 2; }));
    EXPECT_TRUE(pluginMapped()) << "the open device still signals the plug-in's event";
    EXPECT_EQ(counters().event_signal_failures, 0U);
    load(); // a later session of the host finds it and closes properly
    plugin.call().CloseHW();
    plugin.unload();
    expectFullyReleased();
}

} // namespace

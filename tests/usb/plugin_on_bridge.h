// The plug-in in this process on the open driver, through the real libftdi1
// and libusb, against an FT232H-like bridge emulated at usbdevfs, with the
// watching D2XX library (d2xx_watch.h) between the two. The bridge sends
// the test pattern, whose numbered frames show every loss and every damage.
#pragma once

#include "d2xx_watch.h"
#include "usb_testbed.h"
#include "wait_until.h"

#include "plugin/device_state.h"
#include "plugin/entry_points.h"
#include "plugin/tuning.h"
#include "sim/device_frames.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zef::usbtest {

// What reached the host callback. Written by the worker, read by the test.
struct Delivered {
    std::atomic<std::uint64_t> blocks{0};
    std::atomic<std::uint64_t> damaged{0};    // a count other than 512, or no pattern frame
    std::atomic<std::uint64_t> outOfOrder{0}; // repeated or reordered frames
    std::atomic<std::uint64_t> restarts{0};   // a new configuration numbers from 0 again
    std::atomic<std::uint64_t> gaps{0};       // frames missing between two deliveries
    std::atomic<std::int64_t> lastFrame{-1};
};

inline Delivered delivered;

// A new configuration numbers its frames from 0 and the loader purges what
// the old one left, so a frame this early after a higher one is a restart.
inline constexpr std::int64_t kRestartFrames = 256;

extern "C" inline void EXTIO_CALLBACK_CALL recordPatternBlock(int count, int /*status*/,
                                                              float /*iqOffset*/, void* data) {
    const std::int64_t frame = sim::patternFrameNumber(static_cast<const std::uint8_t*>(data));
    if (count != 512 || frame < 0) {
        ++delivered.damaged;
    } else {
        const std::int64_t previous = delivered.lastFrame.exchange(frame);
        if (previous >= 0 && frame <= previous) {
            ++(frame < kRestartFrames ? delivered.restarts : delivered.outOfOrder);
        } else if (previous >= 0 && frame > previous + 1) {
            delivered.gaps += static_cast<std::uint64_t>(frame - previous - 1);
        }
    }
    ++delivered.blocks;
}

class PluginOnBridge : public testing::Test {
  protected:
    static constexpr std::int32_t kLo = 7050000;

    void SetUp() override {
        if (!underUmockdev()) {
            GTEST_SKIP() << "runs under umockdev's preload library only";
        }
        setenv("ZEF_D2XX", ZEF_WATCH_PATH, 1);
        plugIn();
        delivered.blocks = 0;
        delivered.damaged = 0;
        delivered.outOfOrder = 0;
        delivered.restarts = 0;
        delivered.gaps = 0;
        delivered.lastFrame = -1;
    }
    void TearDown() override { zef::closeHW(); }

    void plugIn() {
        bridge_ = &bed.plug(1, 2, "ZEF418", kFt232h);
        bridge_->with([](BridgeChannel& c) { c.environment().signal.kind = ZEFSIM_TEST_PATTERN; });
    }
    void unplug() { bed.remove(*bridge_); }
    EmulatedBridge& bridge() { return *bridge_; }

    static void startStreaming() {
        zef::setCallback(&recordPatternBlock);
        char name[64];
        char model[64];
        int type = 0;
        ASSERT_TRUE(zef::initHW(name, model, &type));
        ASSERT_EQ(zef::startHW(kLo), 512);
    }

    static bool blocksArrive(std::uint64_t more,
                             std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        const std::uint64_t target = delivered.blocks.load() + more;
        return test::waitUntil([&] { return delivered.blocks.load() >= target; }, timeout);
    }

    // The bridge's gateware runs with the LO the plug-in holds now.
    bool tuningOnTheWire() {
        const auto word = static_cast<std::uint32_t>(TuningWord(zef::getHWLO()));
        return test::waitUntil([&] {
            return bridge().with([](BridgeChannel& c) { return c.environment().loWord; }) == word;
        });
    }

    static ZefWatchReport watch() {
        ZefWatchReport report{};
        void* library = dlopen(ZEF_WATCH_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (library != nullptr) {
            void* address = dlsym(library, kZefWatchReportName);
            ZefWatchReportFunction function = nullptr;
            std::memcpy(&function, &address, sizeof function);
            function(&report);
            dlclose(library);
        }
        return report;
    }

    // What every case holds to, whatever was injected.
    static void expectSoundBoundary() {
        const ZefWatchReport report = watch();
        EXPECT_GT(report.calls, 0U) << "the plug-in went through the watching library";
        EXPECT_EQ(report.lateCalls, 0U)
            << report.worstCall << " came back " << report.worstOverrunMs << " ms late";
        EXPECT_EQ(report.closedHandleCalls, 0U) << report.closedCall << " on a closed handle";
        EXPECT_EQ(delivered.damaged.load(), 0U) << "no corrupted frame reaches the host";
        EXPECT_EQ(delivered.outOfOrder.load(), 0U);
    }

    UsbTestbed bed;

  private:
    EmulatedBridge* bridge_ = nullptr;
};

} // namespace zef::usbtest

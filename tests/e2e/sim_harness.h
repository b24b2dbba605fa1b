// End-to-end harness: the core library driving the simulated instrument,
// which the test links, so the plug-in's bare-name driver load finds it.
#pragma once

#include "plugin/device_state.h"
#include "plugin/entry_points.h"
#include "sim/device_frames.h"
#include "sim/zef_sim.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

namespace zef::test {

inline constexpr std::uint32_t kLocation = 0x2101;

// What reached the host callback. Written by the worker, read by the test.
struct Delivery {
    static constexpr std::size_t kCapacity = 1U << 16U;
    std::atomic<std::uint64_t> blocks{0};
    std::atomic<std::uint64_t> badCount{0};   // count argument other than 512
    std::atomic<std::uint64_t> badPattern{0}; // body that is no test-pattern frame
    std::atomic<std::uint64_t> outOfOrder{0}; // repeated or reordered frame
    std::atomic<std::uint64_t> restarts{0};   // a new configuration numbers from 0 again
    std::atomic<std::uint64_t> gaps{0};       // frames skipped between two deliveries
    std::atomic<std::int64_t> lastFrame{-1};
    std::atomic<std::uint64_t> configuration{0}; // the simulator's count at the last delivery

    // A capture of consecutive blocks: armed by the test, filled by the
    // worker, handed back with `captured` (release/acquire).
    static constexpr std::size_t kCaptureBlocks = 16;
    std::array<std::int16_t, kCaptureBlocks * 1024> capture{};
    std::size_t captureFill = 0; // worker only while armed
    std::atomic<bool> captureArmed{false};
    std::atomic<bool> captured{false};

    void armCapture() {
        captured = false;
        captureFill = 0;
        captureArmed = true;
    }

    void reset() {
        blocks = 0;
        badCount = 0;
        badPattern = 0;
        outOfOrder = 0;
        restarts = 0;
        gaps = 0;
        lastFrame = -1;
        configuration = 0;
    }
};

inline Delivery delivery;

extern "C" inline void EXTIO_CALLBACK_CALL recordBlock(int count, int /*status*/,
                                                       float /*iqOffset*/, void* data) {
    if (count != 512) {
        ++delivery.badCount;
    }
    const auto* body = static_cast<const std::uint8_t*>(data);
    if (delivery.captureArmed.load(std::memory_order_acquire)) {
        std::memcpy(delivery.capture.data() + delivery.captureFill * 1024, body,
                    sim::kSampleBodySize);
        if (++delivery.captureFill == Delivery::kCaptureBlocks) {
            delivery.captureArmed.store(false);
            delivery.captured.store(true, std::memory_order_release);
        }
    }
    const std::int64_t frame = sim::patternFrameNumber(body);
    if (frame < 0) {
        ++delivery.badPattern;
    } else {
        // The device numbers its frames from 0 after each configuration; the
        // loader purges what the old one left queued, so the first frame
        // after a new configuration starts a new sequence.
        zefsim_counters sim{};
        zefsim_get_counters(&sim);
        std::int64_t previous = delivery.lastFrame.exchange(frame);
        if (delivery.configuration.exchange(sim.configs_accepted) != sim.configs_accepted &&
            previous >= 0) {
            ++delivery.restarts;
            previous = -1;
        }
        if (previous >= 0 && frame <= previous) {
            ++delivery.outOfOrder;
        } else if (previous >= 0 && frame > previous + 1) {
            delivery.gaps += static_cast<std::uint64_t>(frame - previous - 1);
        }
    }
    ++delivery.blocks;
}

inline zefsim_counters counters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

class SimulatedInstrument : public testing::Test {
  protected:
    void SetUp() override {
        zefsim_reset();
        zefsim_add_device("ZEF418", kLocation, 0, 0);
        delivery.reset();
    }
    void TearDown() override { zef::closeHW(); }

    // SetCallback, InitHW, StartHW: what a host does before samples flow.
    static void startStreaming(std::int32_t lo = 7050000) {
        zef::setCallback(&recordBlock);
        char name[64];
        char model[64];
        int type = 0;
        ASSERT_TRUE(zef::initHW(name, model, &type));
        ASSERT_EQ(zef::startHW(lo), 512);
    }

    // Returns once the worker has parsed everything the device put on the
    // wire before the call: the device answers a settings frame with a
    // status frame behind those bytes, which carries the model set here.
    static bool workerParsedAllSent() {
        static std::uint16_t model = 0x4000; // never 53, which changes the frame
        const std::uint16_t mark = ++model;
        zefsim_set_model(mark);
        zef::tuneChanged(zef::deviceState.tuneFrequency.load());
        return waitUntil([mark] { return zef::deviceState.deviceModel.load() == mark; });
    }

    // Returns once the worker has run `passes` whole passes that began after
    // the call. It resets RxEvent after each wait and nothing else does, so
    // setting the event and seeing it reset marks a pass. The driver sets it
    // too (on Windows it stays set): the device must send nothing, or seldom.
    static bool workerRunsPasses(int passes) {
        platform::Event& event = zef::rxEvent();
        for (int i = 0; i <= passes; ++i) {
            event.set();
            if (!waitUntil([&event] { return !event.wait(0); })) {
                return false;
            }
        }
        return true;
    }

    static bool blocksArrive(std::uint64_t more,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const std::uint64_t target = delivery.blocks.load() + more;
        return waitUntil([&] { return delivery.blocks.load() >= target; }, timeout);
    }
};

} // namespace zef::test

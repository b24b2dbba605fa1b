// Soak through the open driver and the real libftdi1 and libusb: random URB
// faults, a hanging bridge, replugs, retunes from a second host thread and
// stop/start cycles. Length: ZEF_SOAK_SECONDS (default 8).
#include "plugin_on_bridge.h"
#include "soak/soak_length.h"

#include <cstdio>
#include <random>
#include <thread>

namespace zef::usbtest {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using test::soakSeconds;

TEST_F(PluginOnBridge, SoakSurvivesUrbFaultsReplugsRetunesAndRestarts) {
    const auto end = std::chrono::steady_clock::now() + seconds(soakSeconds());
    startStreaming();
    ASSERT_TRUE(blocksArrive(20));

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> retunes{0};
    std::thread retuner([&] {
        std::mt19937 random(7);
        while (!stop.load()) {
            zef::setHWLO(kLo + static_cast<std::int32_t>(random() % 50000));
            zef::tuneChanged(kLo + static_cast<std::int32_t>(random() % 20000));
            ++retunes;
            std::this_thread::sleep_for(milliseconds(20 + random() % 200));
        }
    });
    std::mt19937 random(11);
    std::uint64_t replugs = 0;
    std::uint64_t hangs = 0;
    std::uint64_t cycles = 0;
    std::size_t injected = 0;
    double share = 0.0;
    const auto countInjected = [&] {
        injected += bridge().faults([](UrbFaults& f) { return f.injected(); });
    };
    while (std::chrono::steady_clock::now() < end) {
        switch (random() % 6) {
        case 0:
        case 1:
            share = 0.05;
            bridge().faults(
                [&](UrbFaults& f) { f.randomly(share, static_cast<std::uint32_t>(random())); });
            break;
        case 2:
            share = 0.0;
            bridge().faults([](UrbFaults& f) { f.calm(); });
            break;
        case 3: // hangs for a while
            bridge().faults([](UrbFaults& f) { f.silence(true); });
            std::this_thread::sleep_for(milliseconds(200 + random() % 800));
            bridge().faults([](UrbFaults& f) { f.silence(false); });
            ++hangs;
            break;
        case 4:
            zef::stopHW();
            std::this_thread::sleep_for(milliseconds(50));
            zef::startHW(kLo);
            ++cycles;
            break;
        default:
            countInjected();
            unplug();
            std::this_thread::sleep_for(milliseconds(50 + random() % 300));
            plugIn();
            bridge().faults(
                [&](UrbFaults& f) { f.randomly(share, static_cast<std::uint32_t>(random())); });
            ++replugs;
            break;
        }
        std::this_thread::sleep_for(milliseconds(300 + random() % 700));
    }
    stop = true;
    retuner.join();
    countInjected();
    bridge().faults([](UrbFaults& f) { f.calm(); });

    // A clean link again: the stream resumes by itself and loses nothing.
    if (!blocksArrive(20, seconds(30))) {
        const auto c = bridge().with([](BridgeChannel& b) { return b.environment().counters; });
        FAIL() << "the stream did not resume: driverStatus " << zef::deviceState.driverStatus.load()
               << ", ready " << zef::deviceState.deviceReady.load() << ", configNeeded "
               << zef::deviceState.configNeeded.load() << ", configs " << c.configs_accepted << "/"
               << c.configs_rejected << ", starts " << c.start_commands << ", bit-bang bytes "
               << c.bitbang_bytes << ", frames " << c.sample_frames_sent << ", claimed "
               << bridge().claimed(0);
    }
    const std::uint64_t gapsBefore = delivered.gaps.load();
    ASSERT_TRUE(blocksArrive(130));
    EXPECT_EQ(delivered.gaps.load(), gapsBefore) << "a clean link loses no frame";
    EXPECT_TRUE(tuningOnTheWire());
    expectSoundBoundary();
    const ZefWatchReport report = watch();
    std::printf("usb soak: %d s, delivered %llu, gaps %llu, restarts %llu, URB faults %zu, "
                "hangs %llu, replugs %llu, stop/start %llu, retunes %llu, driver calls %llu\n",
                soakSeconds(), static_cast<unsigned long long>(delivered.blocks.load()),
                static_cast<unsigned long long>(delivered.gaps.load()),
                static_cast<unsigned long long>(delivered.restarts.load()), injected,
                static_cast<unsigned long long>(hangs), static_cast<unsigned long long>(replugs),
                static_cast<unsigned long long>(cycles),
                static_cast<unsigned long long>(retunes.load()),
                static_cast<unsigned long long>(report.calls));
}

} // namespace
} // namespace zef::usbtest

// Soak: the simulated instrument in real time, a host that retunes from a
// second thread, stops and starts, and a link that corrupts, drops, splits
// and fails writes and gets unplugged. Length: ZEF_SOAK_SECONDS (default 8).
#include "e2e/sim_harness.h"
#include "soak/soak_length.h"

#include <cstdlib>
#include <random>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace zef::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

double processCpuSeconds() {
#if defined(_WIN32)
    return 0.0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto toSeconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
#endif
}

class Soak : public SimulatedInstrument {
  protected:
    void SetUp() override {
        SimulatedInstrument::SetUp();
        zefsim_set_timing(ZEFSIM_REALTIME);
    }
};

// A second host thread that retunes and changes mode at random moments.
class Retuner {
  public:
    Retuner()
        : thread_([this] {
              std::mt19937 random(7);
              const char modes[] = {'U', 'L', 'A', 'C', 'F', 'E', 'x'};
              while (!stop_.load()) {
                  zef::tuneChanged(7000000 + static_cast<std::int32_t>(random() % 100000));
                  if (random() % 3 == 0) {
                      zef::modeChanged(modes[random() % sizeof modes]);
                  }
                  if (random() % 5 == 0) {
                      zef::setHWLO(7000000 + static_cast<std::int32_t>(random() % 50000));
                  }
                  std::this_thread::sleep_for(milliseconds(20 + random() % 200));
                  ++retunes_;
              }
          }) {}
    ~Retuner() {
        stop_ = true;
        thread_.join();
    }
    Retuner(const Retuner&) = delete;
    Retuner& operator=(const Retuner&) = delete;
    std::uint64_t retunes() const { return retunes_.load(); }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> retunes_{0};
    std::thread thread_;
};

TEST_F(Soak, SurvivesFaultsRetunesAndReplugs) {
    const auto end = std::chrono::steady_clock::now() + seconds(soakSeconds());
    startStreaming();
    ASSERT_TRUE(blocksArrive(20, seconds(20)));

    std::mt19937 random(11);
    std::uint64_t replugs = 0;
    std::uint64_t cycles = 0;
    {
        Retuner retuner;
        while (std::chrono::steady_clock::now() < end) {
            switch (random() % 5) {
            case 0: // noisy link for a while
                zefsim_set_fault(ZEFSIM_CORRUPT_RATE, 1e-5);
                zefsim_set_fault(ZEFSIM_DROP_RATE, 5e-6);
                zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 17);
                break;
            case 1:
                zefsim_set_fault(ZEFSIM_CORRUPT_RATE, 0);
                zefsim_set_fault(ZEFSIM_DROP_RATE, 0);
                zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 0);
                break;
            case 2: // a stop/start cycle
                zef::stopHW();
                std::this_thread::sleep_for(milliseconds(50));
                zef::startHW(7050000);
                ++cycles;
                break;
            case 3: // a failed write: the next StartHW reopens
                zefsim_set_fault(ZEFSIM_FAIL_WRITES, 1);
                break;
            default: { // cable pull and back
                zefsim_unplug(0);
                std::this_thread::sleep_for(milliseconds(100));
                zefsim_replug(0);
                const std::uint64_t opens = counters().opens;
                zef::startHW(7050000);
                EXPECT_EQ(counters().opens, opens + 1) << "StartHW after a replug reopens";
                ++replugs;
                break;
            }
            }
            std::this_thread::sleep_for(milliseconds(300 + random() % 700));
        }
        std::printf("retunes from the second thread: %llu\n",
                    static_cast<unsigned long long>(retuner.retunes()));
    }

    // Clean link again: streaming must resume and lose nothing.
    zefsim_set_fault(ZEFSIM_CORRUPT_RATE, 0);
    zefsim_set_fault(ZEFSIM_DROP_RATE, 0);
    zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 0);
    zefsim_set_fault(ZEFSIM_FAIL_WRITES, 0);
    zef::startHW(7050000);
    if (!blocksArrive(20, seconds(30))) {
        const zefsim_counters c = counters();
        FAIL() << "streaming did not resume: driverStatus " << zef::deviceState.driverStatus.load()
               << ", configNeeded " << zef::deviceState.configNeeded.load() << ", configs "
               << c.configs_accepted << "/" << c.configs_rejected << ", starts " << c.start_commands
               << ", opens " << c.opens << ", sample frames " << c.sample_frames_sent
               << ", bitbang bytes " << c.bitbang_bytes;
    }
    const std::uint64_t gapsBefore = delivery.gaps.load();
    const double cpuBefore = processCpuSeconds();
    const auto cleanStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(blocksArrive(130, seconds(10)));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - cleanStart).count();
    const double cpuShare = (processCpuSeconds() - cpuBefore) / wall;
    EXPECT_EQ(delivery.gaps.load(), gapsBefore) << "a clean link loses no frame";

    const zefsim_counters c = counters();
    std::printf("soak: %d s, frames sent %llu, delivered %llu, gaps %llu, restarts %llu, "
                "replugs %llu, stop/start %llu, corrupted %llu, dropped %llu, configs %llu, "
                "settings %llu, process CPU %.1f%%\n",
                soakSeconds(), static_cast<unsigned long long>(c.sample_frames_sent),
                static_cast<unsigned long long>(delivery.blocks.load()),
                static_cast<unsigned long long>(delivery.gaps.load()),
                static_cast<unsigned long long>(delivery.restarts.load()),
                static_cast<unsigned long long>(replugs), static_cast<unsigned long long>(cycles),
                static_cast<unsigned long long>(c.bytes_corrupted),
                static_cast<unsigned long long>(c.bytes_dropped),
                static_cast<unsigned long long>(c.configs_accepted),
                static_cast<unsigned long long>(c.settings_received), 100.0 * cpuShare);

    EXPECT_EQ(delivery.badCount.load(), 0U);
    EXPECT_EQ(delivery.outOfOrder.load(), 0U) << "no duplicate or reordered frame";
    EXPECT_LE(delivery.badPattern.load(), 1U + delivery.blocks.load() / 65536U)
        << "undetected damage stays within the CRC's bound";
    EXPECT_LE(delivery.restarts.load(), c.configs_accepted);
#if !defined(ZEF_SANITIZED) && !defined(_WIN32)
    EXPECT_LT(cpuShare, 0.10) << "plug-in and simulator together stay light";
#endif
}

} // namespace
} // namespace zef::test

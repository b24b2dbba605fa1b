// End-to-end figures against the simulated instrument in real time: retune
// latency, sample latency, worker CPU, heap allocations while streaming, and
// the time of a full FPGA load in fast mode. Prints a summary table.
#include "main_thread/extio_thread.h"
#include "platform/platform.h"
#include "plugin/device_state.h"
#include "plugin/entry_points.h"
#include "sim/device_frames.h"
#include "sim/zef_sim.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

namespace {

std::atomic<std::uint64_t> allocations{0};
// The simulator's own (its frame queues allocate per frame), told apart by a
// caller inside the simulator's library; the rest is the plug-in's.
std::atomic<std::uint64_t> simulatorAllocations{0};
std::atomic<const void*> simulatorBase{nullptr};
thread_local bool classifying = false;

bool calledFromSimulator(const void* base) {
    std::array<void*, 48> frames{};
    const int n = backtrace(frames.data(), static_cast<int>(frames.size()));
    for (int i = 1; i < n; ++i) {
        Dl_info info{};
        if (dladdr(frames[static_cast<std::size_t>(i)], &info) != 0 && info.dli_fbase == base) {
            return true;
        }
    }
    return false;
}

void countAllocation() {
    const void* base = simulatorBase.load(std::memory_order_relaxed);
    if (base == nullptr || classifying) {
        allocations.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    classifying = true;
    std::atomic<std::uint64_t>& counter =
        calledFromSimulator(base) ? simulatorAllocations : allocations;
    counter.fetch_add(1, std::memory_order_relaxed);
    classifying = false;
}

// Where the simulator's library sits, found by one of its exports.
const void* simulatorLibraryBase() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&zefsim_reset), &info) != 0 ? info.dli_fbase : nullptr;
}

} // namespace

// Counts every heap allocation in the process, the plug-in's included.
void* operator new(std::size_t size) {
    countAllocation();
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t /*size*/) noexcept {
    std::free(p);
}

namespace {

using zef::platform::nowMicroseconds;
using zef::platform::sleepMs;

constexpr std::size_t kMaxLatencies = 1U << 16U;
std::array<std::uint32_t, kMaxLatencies> sampleLatencies{};
std::atomic<std::size_t> sampleCount{0};
std::atomic<bool> measuring{false};
std::atomic<std::uint64_t> blocks{0};

std::atomic<std::uint64_t> callbackCpuNs{0};

std::uint64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec);
}

extern "C" void EXTIO_CALLBACK_CALL onBlock(int /*count*/, int /*status*/, float /*iqOffset*/,
                                            void* data) {
    blocks.fetch_add(1, std::memory_order_relaxed);
    if (!measuring.load(std::memory_order_relaxed)) {
        return;
    }
    const std::uint64_t entered = threadCpuNs();
    const std::int64_t frame = zef::sim::patternFrameNumber(static_cast<std::uint8_t*>(data));
    const std::uint64_t readable =
        frame >= 0 ? zefsim_frame_time_us(static_cast<std::uint64_t>(frame)) : 0;
    const std::size_t slot = sampleCount.load(std::memory_order_relaxed);
    if (readable != 0 && slot < kMaxLatencies) {
        sampleLatencies[slot] = static_cast<std::uint32_t>(nowMicroseconds() - readable);
        sampleCount.store(slot + 1, std::memory_order_release);
    }
    // The measuring above is the benchmark's work, not the plug-in's.
    callbackCpuNs.fetch_add(threadCpuNs() - entered, std::memory_order_relaxed);
}

template <typename Predicate> bool waitFor(Predicate predicate, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = nowMicroseconds() + std::uint64_t{timeoutMs} * 1000U;
    while (!predicate()) {
        if (nowMicroseconds() > deadline) {
            return false;
        }
        sleepMs(1);
    }
    return true;
}

zefsim_counters counters() {
    zefsim_counters c{};
    zefsim_get_counters(&c);
    return c;
}

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
    std::size_t n = 0;
};

Percentiles percentiles(std::vector<std::uint32_t> values) {
    Percentiles p;
    p.n = values.size();
    if (values.empty()) {
        return p;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        const auto index = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
        return static_cast<double>(values[index]) / 1000.0;
    };
    p.p50 = at(0.50);
    p.p99 = at(0.99);
    return p;
}

// Returns when InitHW was called.
std::uint64_t startDevice(int timing) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x2101, 0, 0);
    zefsim_set_timing(timing);
    // As a real gateware (and the simulator's configuration file) has it.
    zefsim_set_gateware_startup_ms(20);
    zef::setCallback(&onBlock);
    const std::uint64_t called = nowMicroseconds();
    zef::initHW(nullptr, nullptr, nullptr);
    return called;
}

struct StartUp {
    double fpgaLoadMs = 0;   // InitHW to the image accepted
    double firstBlockMs = 0; // InitHW to the first block delivered
};

// Real time, as a host starts: InitHW, then StartHW at once.
bool startStreaming(StartUp& startUp) {
    const std::uint64_t called = startDevice(ZEFSIM_REALTIME);
    zef::startHW(7050000);
    std::uint64_t loadedUs = 0;
    const bool delivered = waitFor(
        [&] {
            if (loadedUs == 0 && counters().configs_accepted > 0) {
                loadedUs = nowMicroseconds();
            }
            return blocks.load() > 0;
        },
        20000);
    startUp.fpgaLoadMs = static_cast<double>(loadedUs - called) / 1000.0;
    startUp.firstBlockMs = static_cast<double>(nowMicroseconds() - called) / 1000.0;
    return delivered;
}

double fpgaLoadMs() {
    const std::uint64_t start = nowMicroseconds();
    startDevice(ZEFSIM_FAST);
    waitFor([] { return zef::deviceState.deviceReady.load(); }, 60000);
    const double ms = static_cast<double>(nowMicroseconds() - start) / 1000.0;
    zef::closeHW();
    return ms;
}

// From TuneChanged returning to the frame reaching the device. With `busy`,
// each retune lands while the previous frame's acknowledgement wait runs.
Percentiles retuneLatency(int rounds, bool busy) {
    std::vector<std::uint32_t> latencies;
    std::uint32_t jitter = 1;
    for (int i = 0; i < rounds; ++i) {
        if (!busy) {
            waitFor([] { return zef::deviceState.settingsAcked.load(); }, 2000);
            jitter = (jitter * 1103515245U + 12345U) % 37U;
            sleepMs(5 + jitter); // off any beat of the worker's wait
        }
        const std::uint64_t before = zefsim_last_settings_time_us();
        zef::tuneChanged(7000000 + i);
        const std::uint64_t returned = nowMicroseconds();
        if (busy) {
            sleepMs(1); // the next retune comes during this frame's wait
        }
        if (waitFor([&] { return zefsim_last_settings_time_us() != before; }, 2000)) {
            const std::uint64_t arrived = zefsim_last_settings_time_us();
            latencies.push_back(
                static_cast<std::uint32_t>(arrived > returned ? arrived - returned : 0));
        }
    }
    return percentiles(latencies);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double loadMs = fpgaLoadMs();

    StartUp startUp;
    if (!startStreaming(startUp) || !waitFor([] { return blocks.load() > 50; }, 20000)) {
        std::fprintf(stderr, "no samples from the simulated instrument\n");
        return 1;
    }
    const bool bridge = zef::deviceState.bridgeLibrary.load();

    // Steady streaming: sample latency, worker CPU, allocations.
    const std::uint64_t eventsBefore = counters().events_signalled;
    const std::uint64_t cpuBefore = zef::deviceState.worker.load()->cpuMicroseconds();
    // The unwinder loads its helpers on first use, not in the window.
    std::array<void*, 4> warmUp{};
    backtrace(warmUp.data(), static_cast<int>(warmUp.size()));
    simulatorBase = simulatorLibraryBase();
    const std::uint64_t allocBefore = allocations.load();
    const std::uint64_t simAllocBefore = simulatorAllocations.load();
    const std::uint64_t wallBefore = nowMicroseconds();
    const std::uint64_t blocksBefore = blocks.load();
    measuring = true;
    sleepMs(static_cast<std::uint32_t>(seconds) * 1000U);
    measuring = false;
    const double wall = static_cast<double>(nowMicroseconds() - wallBefore) / 1e6;
    const double callbackShare = static_cast<double>(callbackCpuNs.load()) / 1e9 / wall;
    const double cpuShare =
        static_cast<double>(zef::deviceState.worker.load()->cpuMicroseconds() - cpuBefore) / 1e6 /
        wall;
    const double eventsPerSecond =
        static_cast<double>(counters().events_signalled - eventsBefore) / wall;
    const std::uint64_t streamingAllocations = allocations.load() - allocBefore;
    const std::uint64_t simulatorStreamingAllocations =
        simulatorAllocations.load() - simAllocBefore;
    simulatorBase = nullptr;
    const std::uint64_t streamedBlocks = blocks.load() - blocksBefore;
    const std::size_t n = sampleCount.load(std::memory_order_acquire);
    const Percentiles samples = percentiles(std::vector<std::uint32_t>(
        sampleLatencies.begin(), sampleLatencies.begin() + static_cast<std::ptrdiff_t>(n)));

    const Percentiles idleRetune = retuneLatency(100, false);
    const Percentiles busyRetune = retuneLatency(50, true);
    // A link that gives the worker no driver signals, as the bridge library
    // never does: only the entry points' own wake stands between a retune and
    // the full wait. Last, since samples now wait too.
    Percentiles silentRetune;
    if (!bridge) {
        {
            zef::platform::LockGuard guard(zef::driverLock());
            zef::FT_SetEventNotification(zef::deviceState.deviceHandle, 0, nullptr);
        }
        silentRetune = retuneLatency(30, false);
    }
    const zefsim_counters c = counters();
    zef::closeHW();

    std::printf("| measurement (%s driver) | value |\n|---|---|\n", bridge ? "bridge" : "plain");
    std::printf("| retune latency, no ack wait running: p50 / p99 | %.2f / %.2f ms (n=%zu) |\n",
                idleRetune.p50, idleRetune.p99, idleRetune.n);
    std::printf("| retune latency, during an ack wait: p50 / p99 | %.2f / %.2f ms (n=%zu) |\n",
                busyRetune.p50, busyRetune.p99, busyRetune.n);
    if (!bridge) {
        std::printf("| retune latency, driver events off: p50 / p99 | %.2f / %.2f ms (n=%zu) |\n",
                    silentRetune.p50, silentRetune.p99, silentRetune.n);
    }
    std::printf("| sample latency, readable to callback: p50 / p99 | %.2f / %.2f ms (n=%zu) |\n",
                samples.p50, samples.p99, samples.n);
    std::printf("| worker CPU while streaming | %.2f %% of one core |\n", 100.0 * cpuShare);
    std::printf("| of which the benchmark's callback | %.2f %% of one core |\n",
                100.0 * callbackShare);
    std::printf("| driver signals of RxEvent while streaming | %.0f per second |\n",
                eventsPerSecond);
    std::printf("| heap allocations while streaming, plug-in | %llu in %llu blocks |\n",
                static_cast<unsigned long long>(streamingAllocations),
                static_cast<unsigned long long>(streamedBlocks));
    std::printf("| heap allocations while streaming, simulator | %llu |\n",
                static_cast<unsigned long long>(simulatorStreamingAllocations));
    std::printf("| full FPGA load, fast mode | %.0f ms |\n", loadMs);
    std::printf("| real time: InitHW to FPGA loaded / to first block | %.0f / %.0f ms |\n",
                startUp.fpgaLoadMs, startUp.firstBlockMs);
    std::printf("| settings frames received / sample frames sent | %llu / %llu |\n",
                static_cast<unsigned long long>(c.settings_received),
                static_cast<unsigned long long>(c.sample_frames_sent));
    return 0;
}

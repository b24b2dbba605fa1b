// The CPU that the open driver libzefd2xx spends per second of stream, on an
// FT232R-like bridge emulated at usbdevfs (tests/usb), beside the plug-in
// worker's. Its threads (libusb's events, the event signaller, libusb's own)
// are known by their names; every other thread but the main one and the
// worker is the emulator's (the bridge's server, umockdev's ioctl handler,
// GLib's), left out and given apart. Each is measured from the kernel's
// schedstat. Re-runs itself under umockdev's preload library when it has to.
// Usage: zef_bench_zefd2xx_cpu [seconds]
#include "main_thread/extio_thread.h"
#include "plugin/device_state.h"
#include "usb_testbed.h"
#include "zef/instrument.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace {

std::atomic<std::uint64_t> blocks{0};
void countBlock(const std::int16_t* /*pairs*/) {
    blocks.fetch_add(1);
}

struct ThreadTime {
    std::string name;
    std::uint64_t ns = 0;
};

// Every thread of this process: its name and the nanoseconds it ran.
std::map<int, ThreadTime> threadTimes() {
    std::map<int, ThreadTime> times;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return times;
    }
    while (const dirent* entry = readdir(tasks)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0) {
            continue;
        }
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        ThreadTime t;
        std::ifstream(base + "/comm") >> t.name;
        std::ifstream(base + "/schedstat") >> t.ns;
        times[tid] = t;
    }
    closedir(tasks);
    return times;
}

bool ofLibzefd2xx(const std::string& name) {
    return name.starts_with("zefd2xx") || name.starts_with("libusb");
}

bool waitFor(const auto& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr ||
        std::string(preload).find("libumockdev-preload") == std::string::npos) {
        setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
        execv("/proc/self/exe", argv);
        std::perror("re-running under umockdev");
        return 1;
    }
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    zef::usbtest::UsbTestbed bed;
    const zef::usbtest::EmulatedBridge& bridge = bed.plug(1, 2, "ZEF418");
    if (!zef::instrument::chooseDriver(ZEFD2XX_PATH) ||
        zef::instrument::open(std::nullopt, &countBlock) != 0 || zef::instrument::start() != 0 ||
        !waitFor([] { return blocks.load() > 100; }, std::chrono::seconds(30))) {
        std::fprintf(stderr, "no samples through libzefd2xx\n");
        return 1;
    }
    const auto before = threadTimes();
    const std::uint64_t workerBefore = zef::deviceState.worker.load()->cpuMicroseconds();
    const std::uint64_t blocksBefore = blocks.load();
    const std::size_t reapsBefore = bridge.reapCalls();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto after = threadTimes();
    const std::uint64_t workerUs = zef::deviceState.worker.load()->cpuMicroseconds() - workerBefore;
    const std::uint64_t streamed = blocks.load() - blocksBefore;
    const double reaps = static_cast<double>(bridge.reapCalls() - reapsBefore) / wall;
    zef::instrument::close();

    const double worker = static_cast<double>(workerUs) / 1e6 / wall;
    double driver = 0.0;
    double others = 0.0;
    std::printf("| measurement (%d s, %llu blocks) | CPU per second of stream |\n|---|---|\n",
                seconds, static_cast<unsigned long long>(streamed));
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        const std::uint64_t ns = t.ns - (was != before.end() ? was->second.ns : 0);
        const double share = static_cast<double>(ns) / 1e9 / wall;
        if (ofLibzefd2xx(t.name)) {
            driver += share;
            std::printf("| libzefd2xx thread %s | %.3f %% of one core |\n", t.name.c_str(),
                        100.0 * share);
        } else if (tid != getpid()) {
            others += share;
        }
    }
    std::printf("| libzefd2xx's own threads | %.3f %% of one core |\n", 100.0 * driver);
    std::printf("| reap calls by libusb's event handling (a kernel node would block in poll) "
                "| %.0f a second |\n",
                reaps);
    std::printf("| the plug-in's worker | %.3f %% of one core |\n", 100.0 * worker);
    std::printf("| left out: the emulated bridge (its server, umockdev's ioctl handler, GLib) "
                "| %.3f %% of one core |\n",
                100.0 * (others - worker));
    return 0;
}

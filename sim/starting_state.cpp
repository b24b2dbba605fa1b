#include "starting_state.h"

#include "sim/sim_config.h"
#include "sim/sim_state.h"
#include "sim/zef_sim.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace zef::sim {

namespace {

constexpr const char* kFileName = "zefsim.conf";

std::atomic<bool> decided{false};

platform::Mutex& decisionLock() {
    static auto* lock = new platform::Mutex; // like the state: never destroyed
    return *lock;
}

// The folder of this library, with a separator at the end; "" if unknown.
std::string libraryFolder() {
    std::string path;
#if defined(_WIN32)
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&libraryFolder), &self) != 0) {
        char buffer[MAX_PATH * 4];
        const DWORD length = GetModuleFileNameA(self, buffer, sizeof buffer);
        if (length > 0 && length < sizeof buffer) {
            path.assign(buffer, length);
        }
    }
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryFolder), &info) != 0 && info.dli_fname != nullptr) {
        path = info.dli_fname;
    }
#endif
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool readText(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

void apply(const SimConfig& config) {
    for (const ConfiguredDevice& device : config.devices) {
        zefsim_add_device(device.description.c_str(), device.location, device.held ? 1 : 0,
                          device.cts ? 1 : 0);
    }
    zefsim_set_timing(config.timing);
    zefsim_set_signal(config.signal, config.carrierHz, config.amplitude);
    zefsim_set_model(config.model);
    zefsim_set_calibration(config.calibrationA ? config.calibrationA->data() : nullptr,
                           config.calibrationB ? config.calibrationB->data() : nullptr);
    for (const auto& [fault, value] : config.faults) {
        zefsim_set_fault(fault, value);
    }
    zefsim_set_gateware_startup_ms(config.gatewareStartupMs);
    zefsim_set_transfer_size(config.transferBytes);
    zefsim_set_receive_capacity(config.receiveCapacity);
    SimState& state = simState();
    platform::LockGuard guard(state.lock);
    state.env.signal.followsLo = config.carrierFollowsLo;
}

void takeStartingState() {
    const char* named = std::getenv("ZEFSIM_CONFIG");
    if (named != nullptr && std::string(named) == "none") {
        return;
    }
    std::vector<std::string> messages;
    SimConfig config;
    std::string text;
    const std::string path = named != nullptr ? named : libraryFolder() + kFileName;
    if (readText(path, text)) {
        config = parseSimConfig(text, path, messages);
    } else if (named != nullptr) {
        messages.push_back(std::string("zefsim: ZEFSIM_CONFIG names ") + named +
                           ", which cannot be read; starting with one ZEF418");
    }
    for (const std::string& message : messages) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    apply(config);
}

} // namespace

void ensureStartingState() {
    if (decided.load(std::memory_order_acquire)) {
        return;
    }
    platform::LockGuard guard(decisionLock());
    if (!decided.load(std::memory_order_acquire)) {
        takeStartingState();
        decided.store(true, std::memory_order_release);
    }
}

void controlTookOver() {
    decided.store(true, std::memory_order_release);
}

} // namespace zef::sim

#include "linux_driver.h"

#include "platform/platform.h"
#include "word_size.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

namespace zef::winebridge {

namespace {

template <typename Function>
bool resolve(void* library, const char* name, Function*& slot, std::string& missing) {
    void* address = dlsym(library, name);
    if (address == nullptr) {
        missing += (missing.empty() ? "" : ", ") + std::string(name);
        return false;
    }
    static_assert(sizeof(slot) == sizeof(address));
    std::memcpy(&slot, &address, sizeof slot);
    return true;
}

// Every entry point, so that a failure names all that are missing.
std::string resolveAll(void* library, LinuxD2xx& d2xx) {
    std::string missing;
    resolve(library, "FT_Close", d2xx.close, missing);
    resolve(library, "FT_Read", d2xx.read, missing);
    resolve(library, "FT_Write", d2xx.write, missing);
    resolve(library, "FT_GetQueueStatus", d2xx.getQueueStatus, missing);
    resolve(library, "FT_ResetDevice", d2xx.resetDevice, missing);
    resolve(library, "FT_SetBaudRate", d2xx.setBaudRate, missing);
    resolve(library, "FT_SetTimeouts", d2xx.setTimeouts, missing);
    resolve(library, "FT_SetLatencyTimer", d2xx.setLatencyTimer, missing);
    resolve(library, "FT_ListDevices", d2xx.listDevices, missing);
    resolve(library, "FT_OpenEx", d2xx.openEx, missing);
    resolve(library, "FT_CreateDeviceInfoList", d2xx.createDeviceInfoList, missing);
    resolve(library, "FT_SetBitMode", d2xx.setBitMode, missing);
    resolve(library, "FT_StopInTask", d2xx.stopInTask, missing);
    resolve(library, "FT_RestartInTask", d2xx.restartInTask, missing);
    resolve(library, "FT_Purge", d2xx.purge, missing);
    return missing;
}

// Why a candidate did not load, in words a user can act on.
std::string whyNotLoaded(const std::string& file, const char* loaderSays) {
    std::string said = loaderSays != nullptr ? loaderSays : "it does not load";
    if (file.find('/') == std::string::npos) {
        return said.find("No such file") != std::string::npos ? "not found by the dynamic loader"
                                                              : said;
    }
    if (access(file.c_str(), F_OK) != 0) {
        return "not there";
    }
    const std::optional<int> bits = elfWordSize(file);
    if (bits && *bits != kProcessWordSize) {
        return "a " + std::to_string(*bits) + "-bit library, and this " +
               std::to_string(kProcessWordSize) + "-bit Windows program can load only a " +
               std::to_string(kProcessWordSize) + "-bit one";
    }
    return said;
}

} // namespace

std::vector<DriverCandidate> linuxCandidates() {
    std::vector<DriverCandidate> candidates;
    for (const DriverCandidate& candidate : driverCandidates()) {
        if (!candidate.bridge) {
            candidates.push_back(candidate);
        }
    }
    return candidates;
}

Binding bindLinuxD2xx(const std::vector<DriverCandidate>& candidates) {
    Binding binding;
    for (const DriverCandidate& candidate : candidates) {
        void* library = dlopen(candidate.file.c_str(), RTLD_NOW | RTLD_LOCAL);
        std::string why;
        if (library == nullptr) {
            why = whyNotLoaded(candidate.file, dlerror());
        } else if (const std::string missing = resolveAll(library, binding.d2xx);
                   !missing.empty()) {
            why = "lacks " + missing;
            dlclose(library);
            binding.d2xx = LinuxD2xx{};
        } else {
            binding.bound = true;
            binding.file = platform::libraryFile(library);
            if (binding.file.empty()) {
                binding.file = candidate.file;
            }
            return binding; // never unloaded: handles and threads live in it
        }
        binding.failure += (binding.failure.empty() ? "" : "; ") + candidate.file + ": " + why;
    }
    return binding;
}

} // namespace zef::winebridge

#include "driver_choice.h"

#include "driver_table.h"
#include "platform/platform.h"

#include <cstdlib>
#if !defined(_WIN32)
#include <climits>
#include <unistd.h>
#endif

namespace zef {

namespace {

std::string chosen; // under the driver lock

#if !defined(_WIN32)
// From a module in the build tree (src/, soapy/, bin/) and in the installed
// private folder (zef/src, zef/bin) the driver is in ../zefd2xx; from the
// installed SoapySDR module (SoapySDR/modules0.8) in ../../zef/zefd2xx.
constexpr const char* kOpenDriverPlaces[] = {"/../zefd2xx/", "/../../zef/zefd2xx/"};
#endif

} // namespace

void chooseDriverLibrary(const std::string& choice) {
    chosen = choice;
}

std::string driverChoice() {
#if defined(_WIN32)
    return "";
#else
    if (!chosen.empty()) {
        return chosen;
    }
    const char* variable = std::getenv(kDriverVariable);
    return variable != nullptr ? variable : "";
#endif
}

std::string openDriverPath() {
#if defined(_WIN32)
    return "";
#else
    const std::string folder = platform::thisModuleFolder();
    for (const char* place : kOpenDriverPlaces) {
        const std::string path = folder + place + kOpenLibraryFile;
        char resolved[PATH_MAX];
        if (access(path.c_str(), R_OK) == 0 && realpath(path.c_str(), resolved) != nullptr) {
            return resolved; // as a person would name it
        }
    }
    return folder + kOpenDriverPlaces[0] + kOpenLibraryFile;
#endif
}

std::vector<DriverCandidate> driverCandidates() {
    const std::string choice = driverChoice();
    if (choice == "ftdi") {
        return {{kPlainLibraryFile, false}};
    }
    if (choice == "zef") {
        return {{openDriverPath(), false}};
    }
    if (!choice.empty()) {
        return {{choice, false}};
    }
    std::vector<DriverCandidate> order{{kBridgeLibraryFile, true}, {kPlainLibraryFile, false}};
#if !defined(_WIN32)
    order.push_back({openDriverPath(), false});
#endif
    return order;
}

} // namespace zef

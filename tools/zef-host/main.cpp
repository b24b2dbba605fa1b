// zef-host: a headless ExtIO host. It loads a plug-in, drives it the way SDR
// programs do and records the I/Q samples it delivers (see --help).
#include "options.h"
#include "platform/platform.h"
#include "recording_session.h"
#include "system_services.h"

#include <atomic>
#include <cstdio>
#include <filesystem>

namespace {

using zef::host::DriverChoice;

std::atomic<bool> stopRequested{false};

// A D2XX library the plug-in would find by itself under this name.
bool installed(const char* name) {
    zef::platform::Library library = zef::platform::loadLibrary(name);
    const bool found = library != nullptr;
    zef::platform::freeLibrary(library);
    return found;
}

bool systemDriverInstalled() {
    return installed(ZEF_HOST_D2XX_BRIDGE_FILE) || installed(ZEF_HOST_D2XX_PLAIN_FILE);
}

std::string defaultPlugin(const std::filesystem::path& here) {
    const auto beside = here / ZEF_HOST_PLUGIN_FILE;
    if (std::filesystem::exists(beside)) {
        return zef::host::nativeFromPath(beside);
    }
    return zef::host::nativeFromPath(
        (here / ZEF_HOST_PLUGIN_RELATIVE / ZEF_HOST_PLUGIN_FILE).lexically_normal());
}

std::string defaultSimulator(const std::filesystem::path& here, bool bridge) {
    // The Windows zip has the plain flavour in a folder of its own.
    const std::string packaged = ZEF_HOST_SIM_PACKAGED_RELATIVE;
    if (!bridge && !packaged.empty()) {
        const auto file = (here / packaged / ZEF_HOST_D2XX_PLAIN_FILE).lexically_normal();
        if (std::filesystem::exists(file)) {
            return zef::host::nativeFromPath(file);
        }
    }
    const auto folder = here / ZEF_HOST_SIM_RELATIVE / (bridge ? "bridge" : "plain");
    return zef::host::nativeFromPath(
        (folder / (bridge ? ZEF_HOST_D2XX_BRIDGE_FILE : ZEF_HOST_D2XX_PLAIN_FILE))
            .lexically_normal());
}

} // namespace

int main(int argc, char** argv) {
    const zef::host::ParseResult parsed = zef::host::parseOptions(argc, argv);
    if (!parsed.options) {
        return parsed.exitCode;
    }
    const zef::host::HostOptions& options = *parsed.options;
    const auto here = zef::host::executableDir(argc > 0 ? argv[0] : "zef-host");

    zef::host::SessionPaths paths;
    paths.plugin = options.pluginPath.empty() ? defaultPlugin(here) : options.pluginPath;
    const std::string simulator =
        options.simLibrary.empty() ? defaultSimulator(here, options.simBridge) : options.simLibrary;
    DriverChoice driver = options.driver;
    if (driver == DriverChoice::Auto) {
        if (systemDriverInstalled()) {
            driver = DriverChoice::System;
        } else if (std::filesystem::exists(zef::host::pathFromNative(simulator))) {
            driver = DriverChoice::Simulated;
        } else {
            std::fprintf(stderr,
                         "zef-host: no D2XX driver library is installed (%s) and no simulator "
                         "is at %s; install FTDI's D2XX driver, or build the simulator and "
                         "give --driver sim\n",
                         ZEF_HOST_D2XX_PLAIN_FILE, simulator.c_str());
            return zef::host::kExitFailure;
        }
    }
    if (driver == DriverChoice::Simulated) {
        // The plug-in tries the bridge library first: an installed one would
        // win over the plain simulator.
        if (!options.simBridge && installed(ZEF_HOST_D2XX_BRIDGE_FILE)) {
            std::fprintf(stderr,
                         "zef-host: warning: %s is installed and the plug-in prefers it to the "
                         "simulator; give --sim-bridge to simulate that one instead\n",
                         ZEF_HOST_D2XX_BRIDGE_FILE);
        }
        paths.simulator = simulator;
        paths.driverName = options.simBridge ? "sim-bridge" : "sim";
    } else {
        paths.driverName = "system";
    }

    zef::host::installStopHandlers(stopRequested);
    return zef::host::runSession(options, paths, stopRequested);
}

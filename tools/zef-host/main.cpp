// zef-host: a headless ExtIO host. It loads a plug-in, drives it the way SDR
// programs do and records the I/Q samples it delivers (see --help).
#include "executable_dir.h"
#include "options.h"
#include "platform/platform.h"
#include "recording_session.h"
#include "zef/instrument.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

using zef::host::DriverChoice;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    stopRequested.store(true);
    // A second Ctrl-C ends the program at once, should shutdown hang.
    std::signal(signal, SIG_DFL);
}

void installSignalHandlers() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#if defined(SIGPIPE)
    // A reader of stdout that goes away shows up as a write error (EPIPE),
    // and the recording ends cleanly.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

// A D2XX library the plug-in would find by itself under this name.
bool installed(const char* name) {
    zef::platform::Library library = zef::platform::loadLibrary(name);
    const bool found = library != nullptr;
    zef::platform::freeLibrary(library);
    return found;
}

bool ftdiDriverInstalled() {
    return installed(ZEF_HOST_D2XX_BRIDGE_FILE) || installed(ZEF_HOST_D2XX_PLAIN_FILE);
}

// The open driver is always there once installed; it counts for auto when it
// sees an instrument, so that a machine without one still gets the simulator.
bool openDriverSeesInstrument() {
    const zef::instrument::Listing listing = zef::instrument::list();
    return listing.status == 0 && !listing.instruments.empty();
}

std::string defaultPlugin(const std::filesystem::path& here) {
    const auto beside = here / ZEF_HOST_PLUGIN_FILE;
    if (std::filesystem::exists(beside)) {
        return beside.string();
    }
    return (here / ZEF_HOST_PLUGIN_RELATIVE / ZEF_HOST_PLUGIN_FILE).lexically_normal().string();
}

std::string defaultSimulator(const std::filesystem::path& here, bool bridge) {
    const auto folder = here / ZEF_HOST_SIM_RELATIVE / (bridge ? "bridge" : "plain");
    return (folder / (bridge ? ZEF_HOST_D2XX_BRIDGE_FILE : ZEF_HOST_D2XX_PLAIN_FILE))
        .lexically_normal()
        .string();
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
        if (std::getenv("ZEF_D2XX") != nullptr || ftdiDriverInstalled() ||
            openDriverSeesInstrument()) {
            driver = DriverChoice::System;
        } else if (std::filesystem::exists(simulator)) {
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
        // Bound here as the plug-in binds it: the same choice, the same files.
        zef::instrument::list();
        paths.driverName = "system";
        paths.driverLibrary = zef::instrument::state().libraryFile;
    }

    installSignalHandlers();
    return zef::host::runSession(options, paths, stopRequested);
}

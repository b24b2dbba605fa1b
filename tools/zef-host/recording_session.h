// One run of the host: open the output, preload the simulator if asked,
// load the plug-in, call its exports in the order hosts use, record until
// the length is reached (or Ctrl-C, a write error, or silence), shut down,
// and report. Returns the process exit code.
#pragma once

#include "options.h"

#include <atomic>
#include <string>

namespace zef::host {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitNoSamples = 3,
    kExitInterrupted = 130,
};

struct SessionPaths {
    std::string plugin;
    std::string simulator;     // empty: the system's driver
    std::string driverName;    // "sim", "sim-bridge" or "system"
    std::string driverLibrary; // with "system": the D2XX library file, "" when none loads
};

int runSession(const HostOptions& options, const SessionPaths& paths,
               const std::atomic<bool>& stopRequested);

} // namespace zef::host

// zef-host's command line.
#pragma once

#include "iq_writers.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zef::host {

enum class DriverChoice { Auto, Simulated, System };

struct HostOptions {
    std::string pluginPath; // empty: the plug-in built beside the program
    std::int32_t loFrequency = 7050000;
    std::optional<std::int32_t> tuneFrequency; // default: the LO
    char mode = 'A';
    double seconds = 5.0;
    std::optional<std::uint64_t> samples;     // overrides seconds
    std::string output;                       // empty: no recording, summary only
    OutputFormat format = OutputFormat::None; // None: from the file name
    bool quiet = false;
    std::string summaryJson;       // file for the machine-readable summary, "-" stdout
    double noSampleTimeout = 10.0; // a full-speed bridge needs 4.4 s for the gateware alone

    DriverChoice driver = DriverChoice::Auto;
    std::string simLibrary; // empty: the simulator built beside the program
    bool simBridge = false;
    bool simTestPattern = false;
    std::optional<double> carrierHz; // default: 1 kHz above the LO
    double amplitude = 16384.0;
    double corruptRate = 0.0;
    double dropRate = 0.0;
};

struct ParseResult {
    std::optional<HostOptions> options; // empty: exit with `exitCode`
    int exitCode = 0;
};

ParseResult parseOptions(int argc, char** argv);

} // namespace zef::host

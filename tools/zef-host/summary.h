// What a run did, for people (text) and for scripts and tests (JSON).
#pragma once

#include "fft_peak.h"
#include "iq_writers.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zef::host {

// Why the recording ended.
enum class StopReason { Limit, Interrupt, WriteError, PipeClosed, NoSamples };

// As the summary shows it: "limit", "interrupt", "write-error", ...
const char* stopReasonName(StopReason reason);

struct RunSummary {
    std::string plugin; // path
    std::string pluginName;
    std::string pluginModel;
    int hardwareType = 0;
    std::string driver;        // "sim", "sim-bridge" or "system"
    std::string driverLibrary; // the D2XX library file with "system"
    std::uint32_t sampleRate = 0;
    std::int32_t loFrequency = 0;
    std::int32_t tuneFrequency = 0;
    char mode = 'A';
    std::string output; // empty: nothing recorded
    OutputFormat format = OutputFormat::None;

    std::uint64_t samples = 0;          // pairs written (or analysed without an output)
    std::uint64_t samplesDelivered = 0; // pairs the callback received
    std::uint64_t samplesDropped = 0;   // lost because the writer fell behind
    std::uint64_t blocks = 0;
    std::uint64_t oddBlocks = 0;
    double effectiveRate = 0.0;     // pairs per second as the callback saw them
    std::uint64_t initUs = 0;       // when InitHW was called (platform::nowMicroseconds)
    double firstBlockSeconds = 0.0; // from InitHW to the first block: the gateware's load, mostly
    std::optional<SpectralPeak> peak;
    StopReason stoppedBy = StopReason::Limit;
    std::vector<std::pair<std::string, std::uint64_t>> simulator; // counters, when in use
};

[[nodiscard]] double recordedSeconds(const RunSummary& s);
void printSummary(std::FILE* out, const RunSummary& s);
nlohmann::ordered_json summaryJson(const RunSummary& s);

} // namespace zef::host

#include "summary.h"

#include "system_services.h"

namespace zef::host {

const char* stopReasonName(StopReason reason) {
    switch (reason) {
    case StopReason::Limit:
        return "limit";
    case StopReason::Interrupt:
        return "interrupt";
    case StopReason::WriteError:
        return "write-error";
    case StopReason::PipeClosed:
        return "pipe-closed";
    case StopReason::NoSamples:
        return "no-samples";
    }
    return "unknown";
}

double recordedSeconds(const RunSummary& s) {
    return s.sampleRate == 0 ? 0.0
                             : static_cast<double>(s.samples) / static_cast<double>(s.sampleRate);
}

void printSummary(std::FILE* out, const RunSummary& s) {
    std::fprintf(out, "Summary\n");
    if (!s.output.empty()) {
        std::fprintf(out, "  recording      %s (%s)\n", s.output.c_str(), formatName(s.format));
    }
    std::fprintf(out, "  samples        %llu I/Q pairs, %.2f s at %u S/s\n",
                 static_cast<unsigned long long>(s.samples), recordedSeconds(s), s.sampleRate);
    std::fprintf(out, "  delivered      %llu pairs in %llu blocks, effective rate %.1f S/s\n",
                 static_cast<unsigned long long>(s.samplesDelivered),
                 static_cast<unsigned long long>(s.blocks), s.effectiveRate);
    if (s.firstBlockSeconds > 0.0) {
        std::fprintf(out, "  first block    %.2f s after InitHW (the gateware's load and start)\n",
                     s.firstBlockSeconds);
    }
    if (s.samplesDropped != 0 || s.oddBlocks != 0) {
        std::fprintf(out, "  lost           %llu pairs (writer behind), %llu odd-sized blocks\n",
                     static_cast<unsigned long long>(s.samplesDropped),
                     static_cast<unsigned long long>(s.oddBlocks));
    }
    if (s.peak) {
        std::fprintf(out, "  strongest peak %+.1f Hz from the LO (%.3f Hz), %.1f dBFS\n",
                     s.peak->offsetHz, static_cast<double>(s.loFrequency) + s.peak->offsetHz,
                     s.peak->levelDbfs);
    } else {
        std::fprintf(out, "  strongest peak n/a (too few samples)\n");
    }
    if (!s.simulator.empty()) {
        std::fprintf(out, "  simulator     ");
        for (const auto& [name, value] : s.simulator) {
            std::fprintf(out, " %s=%llu", name.c_str(), static_cast<unsigned long long>(value));
        }
        std::fprintf(out, "\n");
    }
    if (!s.driverLibrary.empty()) {
        std::fprintf(out, "  D2XX library   %s\n", s.driverLibrary.c_str());
    }
    std::fprintf(out, "  stopped by     %s\n", stopReasonName(s.stoppedBy));
}

nlohmann::ordered_json summaryJson(const RunSummary& s) {
    nlohmann::ordered_json j;
    j["plugin"] = utf8FromNative(s.plugin);
    j["plugin_name"] = s.pluginName;
    j["plugin_model"] = s.pluginModel;
    j["hardware_type"] = s.hardwareType;
    j["driver"] = s.driver;
    if (!s.driverLibrary.empty()) {
        j["driver_library"] = s.driverLibrary;
    }
    j["sample_rate"] = s.sampleRate;
    j["lo_hz"] = s.loFrequency;
    j["tune_hz"] = s.tuneFrequency;
    j["mode"] = std::string(1, s.mode);
    j["output"] = utf8FromNative(s.output);
    j["format"] = formatName(s.format);
    j["samples"] = s.samples;
    j["samples_delivered"] = s.samplesDelivered;
    j["samples_dropped"] = s.samplesDropped;
    j["blocks"] = s.blocks;
    j["odd_blocks"] = s.oddBlocks;
    j["seconds"] = recordedSeconds(s);
    j["effective_rate"] = s.effectiveRate;
    j["first_block_seconds"] = s.firstBlockSeconds;
    if (s.peak) {
        j["peak_offset_hz"] = s.peak->offsetHz;
        j["peak_level_dbfs"] = s.peak->levelDbfs;
    } else {
        j["peak_offset_hz"] = nullptr;
        j["peak_level_dbfs"] = nullptr;
    }
    j["stopped_by"] = stopReasonName(s.stoppedBy);
    if (!s.simulator.empty()) {
        nlohmann::ordered_json sim;
        for (const auto& [name, value] : s.simulator) {
            sim[name] = value;
        }
        j["simulator"] = sim;
    }
    return j;
}

} // namespace zef::host

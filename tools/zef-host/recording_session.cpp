#include "recording_session.h"

#include "driver_check.h"
#include "extio_plugin.h"
#include "fft_peak.h"
#include "host_callback.h"
#include "recording_loop.h"
#include "sample_ring.h"
#include "simulated_instrument.h"
#include "summary.h"
#include "system_services.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace zef::host {

namespace {

constexpr std::size_t kRingPairs = std::size_t{1} << 18U; // four seconds at 65104 S/s

// Below the working directory a path is shown relative to it, so that the
// banner reads the same on every machine.
std::string shownPath(const std::string& path) {
    std::error_code ec;
    const auto relative = std::filesystem::relative(path, ec);
    if (ec || relative.empty() || *relative.begin() == "..") {
        return path;
    }
    return relative.string();
}

void fail(const std::string& message) {
    std::fprintf(stderr, "zef-host: %s\n", message.c_str());
}

void explainSilence(double timeout, const SimulatedInstrument* sim) {
    std::fprintf(stderr,
                 "zef-host: no samples arrived within %.1f s. The plug-in reports no device "
                 "failure to its host, so the likely causes are:\n"
                 "  - no instrument was found, or no D2XX driver library is installed;\n"
                 "  - the instrument is held by another program;\n"
                 "  - the plug-in carries the placeholder gateware, which cannot bring up a "
                 "real instrument (build with -DZEF_FPGA_IMAGE=<bitstream>).\n",
                 timeout);
    std::fprintf(stderr, "  zef-host's own look at the driver: %s.\n", driverCheck().c_str());
    if (sim != nullptr) {
        const zefsim_counters c = sim->counters();
        std::fprintf(stderr,
                     "  Simulator: opened %llu time(s), FPGA images accepted %llu, rejected %llu, "
                     "settings frames %llu, sample frames sent %llu.\n",
                     static_cast<unsigned long long>(c.opens),
                     static_cast<unsigned long long>(c.configs_accepted),
                     static_cast<unsigned long long>(c.configs_rejected),
                     static_cast<unsigned long long>(c.settings_received),
                     static_cast<unsigned long long>(c.sample_frames_sent));
    }
}

bool writeSummaryJson(const std::string& path, const RunSummary& summary) {
    // A file name that is not UTF-8 must not end the program here.
    const std::string text =
        summaryJson(summary).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (path == "-") {
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0;
    }
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        fail("cannot write the summary to " + path);
        return false;
    }
    return true;
}

SimulatorSettings simulatorSettings(const HostOptions& options) {
    SimulatorSettings settings;
    settings.testPattern = options.simTestPattern;
    settings.carrierHz =
        options.carrierHz.value_or(static_cast<double>(options.loFrequency) + 1000.0);
    settings.amplitude = options.amplitude;
    settings.corruptRate = options.corruptRate;
    settings.dropRate = options.dropRate;
    return settings;
}

// The plug-in started the way hosts start it; false (with the plug-in closed
// again) when it cannot deliver what zef-host records.
bool startPlugin(const ExtioExports& call, const HostOptions& options, const SessionPaths& paths,
                 RunSummary& summary, RecordingInfo& info) {
    auto closeAndFail = [&call](const std::string& message) {
        fail(message);
        call.CloseHW();
        return false;
    };
    call.SetCallback(sampleCallback());
    char name[256] = {};
    char model[256] = {};
    int type = 0;
    summary.initUs = platform::nowMicroseconds();
    const bool initialised = call.InitHW(name, model, &type);
    name[sizeof name - 1] = '\0';
    model[sizeof model - 1] = '\0';
    summary.pluginName = name;
    summary.pluginModel = model;
    summary.hardwareType = type;
    info.hardware = summary.pluginName + " " + summary.pluginModel;
    if (!options.quiet) {
        std::fprintf(stderr,
                     "Plug-in %s: \"%s\", model \"%s\", hardware type %d (driver: %s%s%s)\n",
                     shownPath(paths.plugin).c_str(), name, model, type, paths.driverName.c_str(),
                     paths.driverLibrary.empty() ? "" : ", ", paths.driverLibrary.c_str());
    }
    if (!initialised) {
        return closeAndFail("InitHW failed: the plug-in found no usable hardware");
    }
    if (type != 3) {
        return closeAndFail(
            "hardware type " + std::to_string(type) +
            " is not supported: zef-host records 16-bit samples through the callback (type 3)");
    }
    if (!call.OpenHW()) {
        return closeAndFail("OpenHW failed");
    }
    const std::int32_t rate = call.GetHWSR();
    if (rate <= 0) {
        return closeAndFail("GetHWSR reported no sample rate (" + std::to_string(rate) + ")");
    }
    summary.sampleRate = static_cast<std::uint32_t>(rate);
    info.sampleRate = summary.sampleRate;
    const int blockSize = call.StartHW(options.loFrequency);
    if (blockSize <= 0) {
        return closeAndFail("StartHW failed (returned " + std::to_string(blockSize) + ")");
    }
    setExpectedBlockSize(blockSize);
    call.TuneChanged(summary.tuneFrequency);
    call.ModeChanged(options.mode);
    return true;
}

// Ends the files whatever happened, so an interrupted or failed recording is
// still a valid file of what was written. False when the files are not good.
bool finishOutput(IqWriter& writer, const RecordingInfo& info, const Recording& recording,
                  RunSummary& summary) {
    const auto start = recording.written == 0 ? std::chrono::system_clock::now() : recording.start;
    const auto length = std::chrono::microseconds(static_cast<std::int64_t>(
        static_cast<double>(recording.written) * 1e6 / summary.sampleRate));
    const auto stop =
        start + std::chrono::duration_cast<std::chrono::system_clock::duration>(length);
    if (!writer.finish(info, toUtc(start), toUtc(stop)) &&
        summary.stoppedBy != StopReason::PipeClosed) {
        summary.stoppedBy = StopReason::WriteError;
    }
    if (summary.stoppedBy == StopReason::WriteError) {
        fail(writer.error());
        return false;
    }
    return true;
}

} // namespace

int runSession(const HostOptions& options, const SessionPaths& paths,
               const std::atomic<bool>& stopRequested) {
    RunSummary summary;
    summary.plugin = paths.plugin;
    summary.driver = paths.driverName;
    summary.driverLibrary = paths.driverLibrary;
    summary.loFrequency = options.loFrequency;
    summary.tuneFrequency = options.tuneFrequency.value_or(options.loFrequency);
    summary.mode = options.mode;
    summary.output = options.output;
    summary.format = options.output.empty() ? OutputFormat::None : options.format;

    RecordingInfo info;
    info.loFrequency = options.loFrequency;
    info.recorder = std::string("zef-host ") + ZEF_HOST_VERSION;

    // The output first: a path that cannot be written fails before any
    // plug-in or device is touched.
    std::unique_ptr<IqWriter> writer;
    std::string error;
    if (!options.output.empty()) {
        writer = openWriter(options.format, options.output, info, error);
        if (!writer) {
            fail(error);
            return kExitFailure;
        }
    }

    // Declared before the plug-in: destroyed after it.
    SampleRing ring(kRingPairs);
    std::unique_ptr<SimulatedInstrument> sim;
    if (!paths.simulator.empty()) {
        sim = std::make_unique<SimulatedInstrument>();
        if (!sim->load(paths.simulator, error)) {
            fail(error);
            return kExitFailure;
        }
        sim->configure(simulatorSettings(options));
    }

    ExtioPlugin plugin;
    if (!plugin.load(paths.plugin, error)) {
        fail(error);
        return kExitFailure;
    }
    const ExtioExports& call = plugin.call();
    attachRing(&ring);
    if (!startPlugin(call, options, paths, summary, info)) {
        return kExitFailure;
    }

    SpectrumAnalyzer spectrum(summary.sampleRate);
    const Recording recording =
        record(ring, writer.get(), spectrum, options, summary, sim.get(), stopRequested);
    call.StopHW();
    call.CloseHW();
    plugin.unload();
    attachRing(nullptr);
    collectCounters(summary, recording, spectrum, sim.get());

    int exitCode = kExitOk;
    if (summary.stoppedBy == StopReason::NoSamples) {
        explainSilence(options.noSampleTimeout, sim.get());
        exitCode = kExitNoSamples;
    } else if (summary.stoppedBy == StopReason::Interrupt && recording.written == 0) {
        exitCode = kExitInterrupted;
    }
    if (writer && !finishOutput(*writer, info, recording, summary)) {
        exitCode = kExitFailure;
    }
    if (!options.summaryJson.empty() && !writeSummaryJson(options.summaryJson, summary)) {
        exitCode = exitCode == kExitOk ? kExitFailure : exitCode;
    }
    if (!options.quiet) {
        printSummary(writer && options.output == "-" ? stderr : stdout, summary);
    }
    return exitCode;
}

} // namespace zef::host

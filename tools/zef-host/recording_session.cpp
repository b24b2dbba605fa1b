#include "recording_session.h"

#include "driver_check.h"
#include "extio_plugin.h"
#include "fft_peak.h"
#include "host_callback.h"
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
constexpr std::size_t kChunkPairs = 8192;
constexpr std::uint32_t kIdleSleepMs = 5;
constexpr std::uint64_t kProgressEveryUs = 1000000;

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

std::vector<std::pair<std::string, std::uint64_t>> simulatorCounters(const zefsim_counters& c) {
    return {{"sample_frames_sent", c.sample_frames_sent},
            {"status_frames_sent", c.status_frames_sent},
            {"bytes_sent", c.bytes_sent},
            {"bytes_dropped", c.bytes_dropped},
            {"bytes_corrupted", c.bytes_corrupted},
            {"settings_received", c.settings_received},
            {"settings_rejected", c.settings_rejected},
            {"configs_accepted", c.configs_accepted},
            {"configs_rejected", c.configs_rejected},
            {"start_commands", c.start_commands},
            {"events_signalled", c.events_signalled},
            {"opens", c.opens},
            {"closes", c.closes},
            {"bitbang_bytes", c.bitbang_bytes},
            {"closed_handle_calls", c.closed_handle_calls},
            {"event_signal_failures", c.event_signal_failures},
            {"settings_unheard", c.settings_unheard},
            {"sample_frames_overrun", c.sample_frames_overrun},
            {"rx_transfers", c.rx_transfers},
            {"rx_overflow_bytes", c.rx_overflow_bytes}};
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

double effectiveRate(const CallbackCounters& c) {
    const std::uint64_t first = c.firstBlockUs.load(std::memory_order_relaxed);
    const std::uint64_t last = c.lastBlockUs.load(std::memory_order_relaxed);
    const std::uint64_t blocks = c.blocks.load(std::memory_order_acquire);
    if (blocks < 2 || last <= first) {
        return 0.0;
    }
    // The first block's pairs arrived at `first`: count the ones after it.
    const double pairs = static_cast<double>(c.pairsDelivered.load(std::memory_order_relaxed));
    const double perBlock = pairs / static_cast<double>(blocks);
    return (pairs - perBlock) * 1e6 / static_cast<double>(last - first);
}

class Progress {
  public:
    Progress(bool enabled, const SimulatedInstrument* sim)
        : enabled_(enabled), sim_(sim), terminal_(stderrIsTerminal()) {}

    void update(std::uint64_t pairs, std::uint32_t rate, bool force = false) {
        const std::uint64_t now = platform::nowMicroseconds();
        if (!started_) {
            // The clock starts with the first samples, not with the set-up.
            started_ = true;
            last_ = now;
        }
        if (!enabled_ || (!force && now - last_ < kProgressEveryUs)) {
            return;
        }
        last_ = now;
        std::fprintf(stderr, "%s%8.1f s %10llu samples %9.1f S/s", terminal_ ? "\r" : "",
                     rate != 0 ? static_cast<double>(pairs) / rate : 0.0,
                     static_cast<unsigned long long>(pairs), effectiveRate(callbackCounters()));
        if (sim_ != nullptr) {
            const zefsim_counters c = sim_->counters();
            std::fprintf(stderr, "  sim: %llu bytes dropped, %llu corrupted",
                         static_cast<unsigned long long>(c.bytes_dropped),
                         static_cast<unsigned long long>(c.bytes_corrupted));
        }
        std::fprintf(stderr, terminal_ ? "  " : "\n");
        shown_ = true;
    }
    void end() {
        if (enabled_ && terminal_ && shown_) {
            std::fprintf(stderr, "\n");
        }
    }

  private:
    bool enabled_;
    const SimulatedInstrument* sim_;
    bool terminal_;
    bool shown_ = false;
    bool started_ = false;
    std::uint64_t last_ = 0;
};

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

struct Recording {
    StopReason stoppedBy = StopReason::Limit;
    std::uint64_t written = 0;
    std::chrono::system_clock::time_point start; // the first samples' arrival
};

// Moves samples from the ring to the writer and the spectrum until the
// length is reached, Ctrl-C comes, a write fails, or nothing arrives.
Recording record(SampleRing& ring, IqWriter* writer, SpectrumAnalyzer& spectrum,
                 const HostOptions& options, const RunSummary& summary,
                 const SimulatedInstrument* sim, const std::atomic<bool>& stopRequested) {
    const std::uint64_t target = options.samples.value_or(
        static_cast<std::uint64_t>(std::llround(options.seconds * summary.sampleRate)));
    const auto timeoutUs = static_cast<std::uint64_t>(options.noSampleTimeout * 1e6);
    const CallbackCounters& counters = callbackCounters();
    Progress progress(!options.quiet, sim);
    std::vector<std::int16_t> chunk(kChunkPairs * 2);
    Recording recording;
    const std::uint64_t startedUs = platform::nowMicroseconds();
    while (true) {
        const std::size_t got = ring.pop(chunk.data(), kChunkPairs);
        if (got != 0) {
            if (recording.written == 0) {
                recording.start = std::chrono::system_clock::now();
            }
            const auto take =
                static_cast<std::size_t>(std::min<std::uint64_t>(got, target - recording.written));
            spectrum.add(chunk.data(), take);
            if (writer != nullptr && !writer->write(chunk.data(), take)) {
                recording.stoppedBy =
                    writer->pipeClosed() ? StopReason::PipeClosed : StopReason::WriteError;
                break;
            }
            recording.written += take;
            progress.update(recording.written, summary.sampleRate);
        }
        if (recording.written >= target) {
            recording.stoppedBy = StopReason::Limit;
            break;
        }
        if (stopRequested.load()) {
            recording.stoppedBy = StopReason::Interrupt;
            break;
        }
        if (counters.blocks.load(std::memory_order_acquire) == 0 &&
            platform::nowMicroseconds() - startedUs > timeoutUs) {
            recording.stoppedBy = StopReason::NoSamples;
            break;
        }
        if (got == 0) {
            platform::sleepMs(kIdleSleepMs);
        }
    }
    if (recording.written != 0) {
        progress.update(recording.written, summary.sampleRate, true);
    }
    progress.end();
    return recording;
}

void collectCounters(RunSummary& summary, const Recording& recording,
                     const SpectrumAnalyzer& spectrum, const SimulatedInstrument* sim) {
    const CallbackCounters& counters = callbackCounters();
    summary.stoppedBy = recording.stoppedBy;
    summary.samples = recording.written;
    summary.blocks = counters.blocks.load(std::memory_order_acquire);
    summary.samplesDelivered = counters.pairsDelivered.load();
    summary.samplesDropped = counters.pairsDropped.load();
    summary.oddBlocks = counters.oddBlocks.load();
    summary.effectiveRate = effectiveRate(counters);
    const std::uint64_t firstUs = counters.firstBlockUs.load(std::memory_order_relaxed);
    summary.firstBlockSeconds =
        firstUs > summary.initUs ? static_cast<double>(firstUs - summary.initUs) / 1e6 : 0.0;
    summary.peak = spectrum.peak();
    if (sim != nullptr) {
        summary.simulator = simulatorCounters(sim->counters());
    }
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

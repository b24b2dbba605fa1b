#include "recording_session.h"

#include "extio_plugin.h"
#include "fft_peak.h"
#include "host_callback.h"
#include "sample_ring.h"
#include "simulated_instrument.h"
#include "summary.h"
#include "terminal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace zef::host {

namespace {

constexpr std::size_t kRingPairs = std::size_t{1} << 18U; // four seconds at 65104 S/s
constexpr std::size_t kChunkPairs = 8192;
constexpr std::uint32_t kIdleSleepMs = 5;
constexpr std::uint64_t kProgressEveryUs = 1000000;

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
            {"opens", c.opens}};
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
    const std::string text = summaryJson(summary).dump() + "\n";
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

} // namespace

int runSession(const HostOptions& options, const SessionPaths& paths,
               const std::atomic<bool>& stopRequested) {
    const bool talk = !options.quiet;
    RunSummary summary;
    summary.plugin = paths.plugin;
    summary.driver = paths.driverName;
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
    if (!options.output.empty()) {
        std::string error;
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
        std::string error;
        if (!sim->load(paths.simulator, error)) {
            fail(error);
            return kExitFailure;
        }
        SimulatorSettings settings;
        settings.testPattern = options.simTestPattern;
        settings.carrierHz =
            options.carrierHz.value_or(static_cast<double>(options.loFrequency) + 1000.0);
        settings.amplitude = options.amplitude;
        settings.corruptRate = options.corruptRate;
        settings.dropRate = options.dropRate;
        sim->configure(settings);
    }

    ExtioPlugin plugin;
    std::string error;
    if (!plugin.load(paths.plugin, error)) {
        fail(error);
        return kExitFailure;
    }
    const ExtioExports& call = plugin.call();
    attachRing(&ring);

    call.SetCallback(sampleCallback());
    char name[256] = {};
    char model[256] = {};
    int type = 0;
    const bool initialised = call.InitHW(name, model, &type);
    name[sizeof name - 1] = '\0';
    model[sizeof model - 1] = '\0';
    summary.pluginName = name;
    summary.pluginModel = model;
    summary.hardwareType = type;
    info.hardware = summary.pluginName + " " + summary.pluginModel;
    if (talk) {
        std::fprintf(stderr, "Plug-in %s: \"%s\", model \"%s\", hardware type %d (driver: %s)\n",
                     paths.plugin.c_str(), name, model, type, paths.driverName.c_str());
    }
    if (!initialised) {
        fail("InitHW failed: the plug-in found no usable hardware");
        call.CloseHW();
        return kExitFailure;
    }
    if (type != 3) {
        fail("hardware type " + std::to_string(type) +
             " is not supported: zef-host records 16-bit samples through the callback (type 3)");
        call.CloseHW();
        return kExitFailure;
    }
    if (!call.OpenHW()) {
        fail("OpenHW failed");
        call.CloseHW();
        return kExitFailure;
    }
    const std::int32_t rate = call.GetHWSR();
    if (rate <= 0) {
        fail("GetHWSR reported no sample rate (" + std::to_string(rate) + ")");
        call.CloseHW();
        return kExitFailure;
    }
    summary.sampleRate = static_cast<std::uint32_t>(rate);
    info.sampleRate = summary.sampleRate;
    const int blockSize = call.StartHW(options.loFrequency);
    if (blockSize <= 0) {
        fail("StartHW failed (returned " + std::to_string(blockSize) + ")");
        call.CloseHW();
        return kExitFailure;
    }
    setExpectedBlockSize(blockSize);
    call.TuneChanged(summary.tuneFrequency);
    call.ModeChanged(options.mode);

    const std::uint64_t target =
        options.samples.value_or(static_cast<std::uint64_t>(std::llround(options.seconds * rate)));
    const auto timeoutUs = static_cast<std::uint64_t>(options.noSampleTimeout * 1e6);
    const CallbackCounters& counters = callbackCounters();
    SpectrumAnalyzer spectrum(summary.sampleRate);
    Progress progress(talk, sim.get());
    std::vector<std::int16_t> chunk(kChunkPairs * 2);
    std::uint64_t written = 0;
    std::chrono::system_clock::time_point start;
    const std::uint64_t startedUs = platform::nowMicroseconds();

    while (true) {
        const std::size_t got = ring.pop(chunk.data(), kChunkPairs);
        if (got != 0) {
            if (written == 0) {
                start = std::chrono::system_clock::now();
            }
            const auto take =
                static_cast<std::size_t>(std::min<std::uint64_t>(got, target - written));
            spectrum.add(chunk.data(), take);
            if (writer && !writer->write(chunk.data(), take)) {
                summary.stoppedBy = writer->pipeClosed() ? "pipe-closed" : "write-error";
                break;
            }
            written += take;
            progress.update(written, summary.sampleRate);
        }
        if (written >= target) {
            summary.stoppedBy = "limit";
            break;
        }
        if (stopRequested.load()) {
            summary.stoppedBy = "interrupt";
            break;
        }
        if (counters.blocks.load(std::memory_order_acquire) == 0 &&
            platform::nowMicroseconds() - startedUs > timeoutUs) {
            summary.stoppedBy = "no-samples";
            break;
        }
        if (got == 0) {
            platform::sleepMs(kIdleSleepMs);
        }
    }
    if (written != 0) {
        progress.update(written, summary.sampleRate, true);
    }
    progress.end();

    call.StopHW();
    call.CloseHW();
    plugin.unload();
    attachRing(nullptr);

    summary.samples = written;
    summary.blocks = counters.blocks.load(std::memory_order_acquire);
    summary.samplesDelivered = counters.pairsDelivered.load();
    summary.samplesDropped = counters.pairsDropped.load();
    summary.oddBlocks = counters.oddBlocks.load();
    summary.effectiveRate = effectiveRate(counters);
    summary.peak = spectrum.peak();
    if (sim) {
        summary.simulator = simulatorCounters(sim->counters());
    }

    int exitCode = kExitOk;
    if (summary.stoppedBy == "no-samples") {
        explainSilence(options.noSampleTimeout, sim.get());
        exitCode = kExitNoSamples;
    } else if (summary.stoppedBy == "interrupt" && written == 0) {
        exitCode = kExitInterrupted;
    }
    if (writer) {
        // Ends the files whatever happened, so an interrupted or failed
        // recording is still a valid file of what was written.
        if (written == 0) {
            start = std::chrono::system_clock::now();
        }
        const auto length = std::chrono::microseconds(
            static_cast<std::int64_t>(static_cast<double>(written) * 1e6 / rate));
        const auto stop =
            start + std::chrono::duration_cast<std::chrono::system_clock::duration>(length);
        if (!writer->finish(info, toUtc(start), toUtc(stop)) &&
            summary.stoppedBy != "pipe-closed") {
            summary.stoppedBy = "write-error";
        }
        if (summary.stoppedBy == "write-error") {
            fail(writer->error());
            exitCode = kExitFailure;
        }
    }

    if (!options.summaryJson.empty() && !writeSummaryJson(options.summaryJson, summary)) {
        exitCode = exitCode == kExitOk ? kExitFailure : exitCode;
    }
    if (talk) {
        printSummary(writer && options.output == "-" ? stderr : stdout, summary);
    }
    return exitCode;
}

} // namespace zef::host

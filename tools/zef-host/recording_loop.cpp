#include "recording_loop.h"

#include "host_callback.h"
#include "system_services.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace zef::host {

namespace {

constexpr std::size_t kChunkPairs = 8192;
constexpr std::uint32_t kIdleSleepMs = 5;
constexpr std::uint64_t kProgressEveryUs = 1000000;

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

} // namespace

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

} // namespace zef::host

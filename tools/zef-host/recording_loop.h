// The recording itself: samples from the ring to the writer and the
// spectrum, with the progress line, until the length is reached, Ctrl-C
// comes, a write fails or nothing arrives; then the run's counters.
#pragma once

#include "fft_peak.h"
#include "iq_writers.h"
#include "options.h"
#include "sample_ring.h"
#include "simulated_instrument.h"
#include "summary.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace zef::host {

struct Recording {
    StopReason stoppedBy = StopReason::Limit;
    std::uint64_t written = 0;
    std::chrono::system_clock::time_point start; // the first samples' arrival
};

Recording record(SampleRing& ring, IqWriter* writer, SpectrumAnalyzer& spectrum,
                 const HostOptions& options, const RunSummary& summary,
                 const SimulatedInstrument* sim, const std::atomic<bool>& stopRequested);

void collectCounters(RunSummary& summary, const Recording& recording,
                     const SpectrumAnalyzer& spectrum, const SimulatedInstrument* sim);

} // namespace zef::host

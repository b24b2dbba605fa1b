// Building the 65-byte settings frame from a snapshot of the inputs, as the
// worker does for every retune.
#include "main_thread/settings_frame.h"

#include <benchmark/benchmark.h>

namespace {

void buildFrame(benchmark::State& state) {
    zef::SettingsInputs inputs;
    inputs.loWord = 151397776;
    inputs.tuneFrequency = 7050000;
    inputs.modeCode = 2;
    inputs.tuneWord = 151397776;
    for (std::size_t i = 0; i < inputs.calibration.calibrationA.size(); ++i) {
        inputs.calibration.calibrationA[i] = static_cast<std::uint8_t>(i);
        inputs.calibration.calibrationB[i] = static_cast<std::uint8_t>(255 - i);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(inputs);
        const zef::SettingsFrame frame = zef::buildSettingsFrame(inputs);
        benchmark::DoNotOptimize(frame);
        inputs.tuneFrequency += 1; // a new frame each time, as on a retune
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(zef::kSettingsFrameSize));
}

BENCHMARK(buildFrame)->Name("SettingsFrame/Build");

} // namespace

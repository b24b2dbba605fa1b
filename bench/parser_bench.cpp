// Parser throughput over a recorded stream, byte-by-byte reference against the
// fast path, fed in passes of the size the worker reads at the device's rate.
#include "recorded_stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <span>

namespace {

using Core = void (*)(zef::ParserState&, std::span<const std::uint8_t>,
                      const zef::platform::Thread&);

// About what a 40 ms wait lets queue up at 260 kB/s.
constexpr std::size_t kPassBytes = 10400;

template <Core ParseCore, bool WithStatus> void parseStream(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = zef_bench::recordedStream(128, WithStatus);
    const std::span<const std::uint8_t> bytes(stream);
    zef_bench::IdleWorker worker;
    zef_bench::prepareParser();
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kPassBytes) {
            ParseCore(zef::parserState, bytes.subspan(at, std::min(kPassBytes, bytes.size() - at)),
                      worker);
        }
        benchmark::DoNotOptimize(zef_bench::deliveredBlocks);
        benchmark::ClobberMemory();
    }
    if (zef_bench::deliveredBlocks < 128) {
        state.SkipWithError("the stream's frames were not delivered");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

BENCHMARK(parseStream<&zef::parseBytesReference, true>)->Name("ParseStream/Reference");
BENCHMARK(parseStream<&zef::parseBytes, true>)->Name("ParseStream/Fast");
BENCHMARK(parseStream<&zef::parseBytesReference, false>)->Name("ParseSamplesOnly/Reference");
BENCHMARK(parseStream<&zef::parseBytes, false>)->Name("ParseSamplesOnly/Fast");

} // namespace

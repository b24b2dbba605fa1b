// CRC-16/MODBUS over a sample body and a settings frame: one table look-up per
// byte against the slicing-by-8 form.
#include "main_thread/crc16.h"

#include <benchmark/benchmark.h>

#include <array>
#include <span>

namespace {

using Crc = std::uint16_t (*)(std::span<const std::uint8_t>, std::uint16_t);

template <Crc Compute> void crcOver(benchmark::State& state) {
    std::array<std::uint8_t, 2048> data{};
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 31U + 7U);
    }
    const std::span<const std::uint8_t> bytes =
        std::span<const std::uint8_t>(data).first(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        std::uint16_t crc = Compute(bytes, zef::crc16::kInitial);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(crcOver<&zef::crc16::compute>)->Name("Crc16/ByteWise")->Arg(65)->Arg(2048);
BENCHMARK(crcOver<&zef::crc16::computeSliced>)->Name("Crc16/Sliced8")->Arg(65)->Arg(2048);

} // namespace

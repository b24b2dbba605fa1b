// Expanding the FPGA image into bit-bang bytes, chunk by chunk into the
// loader's 4096-byte buffer: the table copy against shifting out each bit.
#include "fpga_image.h"
#include "main_thread/bitbang_expansion.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>

namespace {

void expandByBits(std::span<const std::uint8_t> image, std::uint8_t* out) {
    for (const std::uint8_t value : image) {
        for (int bit = 7; bit >= 0; --bit) {
            const auto data = static_cast<std::uint8_t>((value >> bit) & 1U);
            *out++ = static_cast<std::uint8_t>(0x80U | data);
            *out++ = static_cast<std::uint8_t>(0x84U | data);
        }
    }
}

template <void (*Expand)(std::span<const std::uint8_t>, std::uint8_t*)>
void expandImage(benchmark::State& state) {
    const std::span<const std::uint8_t> image = zef::fpgaImage().span();
    alignas(64) std::array<std::uint8_t, zef::kBitBangChunkBytes> buffer{};
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < image.size(); offset += zef::kImageChunkBytes) {
            Expand(image.subspan(offset, std::min(zef::kImageChunkBytes, image.size() - offset)),
                   buffer.data());
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        }
    }
    // Image bytes in; each becomes 16 bit-bang bytes.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
    state.counters["bitbang_bytes_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(image.size()) * 16.0,
        benchmark::Counter::kIsRate);
}

BENCHMARK(expandImage<zef::expandImageBytes>)->Name("ExpandImage/Table");
BENCHMARK(expandImage<expandByBits>)->Name("ExpandImage/BitByBit");

} // namespace

// The host's inner parts: the spectrum peak, the callback's ring, the
// command line.
#include "fft_peak.h"
#include "options.h"
#include "sample_ring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace zef::test {
namespace {

std::vector<std::int16_t> tone(double offsetHz, double amplitude, std::size_t pairs,
                               double rate = 65104.0) {
    std::vector<std::int16_t> iq(2 * pairs);
    for (std::size_t n = 0; n < pairs; ++n) {
        const double phase = 2.0 * std::numbers::pi * offsetHz * static_cast<double>(n) / rate;
        iq[2 * n] = static_cast<std::int16_t>(std::lround(amplitude * std::cos(phase)));
        iq[2 * n + 1] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
    }
    return iq;
}

TEST(Spectrum, FindsTheToneOffsetSignAndLevel) {
    struct Case {
        double offsetHz;
        double amplitude;
        double levelDbfs;
    };
    const Case cases[] = {
        {1000.0, 16384.0, -6.02}, {-2500.5, 16384.0, -6.02}, {12345.6, 3276.7, -20.0},
        {-30000.0, 32767.0, 0.0}, {7.9, 1000.0, -30.3},
    };
    for (const Case& c : cases) {
        host::SpectrumAnalyzer analyzer(65104);
        const auto iq = tone(c.offsetHz, c.amplitude, std::size_t{5} * 4096);
        // Uneven pieces, as the ring hands them over.
        analyzer.add(iq.data(), 1000);
        analyzer.add(iq.data() + 2000, 5 * 4096 - 1000);
        ASSERT_EQ(analyzer.transforms(), 5U);
        const auto peak = analyzer.peak();
        ASSERT_TRUE(peak);
        EXPECT_NEAR(peak->offsetHz, c.offsetHz, 1.0) << c.offsetHz;
        EXPECT_NEAR(peak->levelDbfs, c.levelDbfs, 0.5) << c.offsetHz;
    }
}

TEST(Spectrum, HasNoPeakBeforeOneWholeTransform) {
    host::SpectrumAnalyzer analyzer(65104);
    const auto iq = tone(1000.0, 16384.0, 4095);
    analyzer.add(iq.data(), 4095);
    EXPECT_FALSE(analyzer.peak());
}

TEST(SampleRing, KeepsPairsInOrderAcrossTheWrap) {
    host::SampleRing ring(1000); // rounds up to 1024
    ASSERT_EQ(ring.capacity(), 1024U);
    std::vector<std::int16_t> block(std::size_t{2} * 300);
    std::vector<std::int16_t> out(std::size_t{2} * 1024);
    std::int16_t next = 0;
    std::int16_t expected = 0;
    for (int round = 0; round < 20; ++round) {
        for (auto& sample : block) {
            sample = next++;
        }
        ASSERT_TRUE(ring.push(block.data(), 300));
        const std::size_t got = ring.pop(out.data(), 1024);
        ASSERT_EQ(got, 300U);
        for (std::size_t i = 0; i < 2 * got; ++i) {
            ASSERT_EQ(out[i], expected++) << "round " << round;
        }
    }
}

TEST(SampleRing, RefusesABlockThatDoesNotFitWhole) {
    host::SampleRing ring(1024);
    std::vector<std::int16_t> block(std::size_t{2} * 512, 7);
    EXPECT_TRUE(ring.push(block.data(), 512));
    EXPECT_TRUE(ring.push(block.data(), 512));
    EXPECT_FALSE(ring.push(block.data(), 512)) << "full: nothing is overwritten";
    std::vector<std::int16_t> out(std::size_t{2} * 100);
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_FALSE(ring.push(block.data(), 512)) << "a partial fit is still refused";
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_EQ(ring.pop(out.data(), 100), 100U);
    EXPECT_TRUE(ring.push(block.data(), 512));
}

TEST(SampleRing, HandsEveryPairFromOneThreadToAnother) {
    host::SampleRing ring(4096);
    constexpr std::uint32_t kBlocks = 4000;
    std::thread producer([&ring] {
        std::vector<std::int16_t> block(std::size_t{2} * 512);
        for (std::uint32_t b = 0; b < kBlocks; ++b) {
            for (std::size_t i = 0; i < 512; ++i) {
                const std::uint32_t value = b * 512U + static_cast<std::uint32_t>(i);
                block[2 * i] = static_cast<std::int16_t>(value & 0xFFFFU);
                block[2 * i + 1] = static_cast<std::int16_t>(value >> 16U);
            }
            while (!ring.push(block.data(), 512)) {
                std::this_thread::yield();
            }
        }
    });
    std::vector<std::int16_t> out(std::size_t{2} * 700);
    std::uint32_t expected = 0;
    std::uint32_t wrong = 0;
    while (expected < kBlocks * 512) {
        const std::size_t got = ring.pop(out.data(), 700);
        for (std::size_t i = 0; i < got; ++i) {
            const std::uint32_t value =
                static_cast<std::uint16_t>(out[2 * i]) |
                static_cast<std::uint32_t>(static_cast<std::uint16_t>(out[2 * i + 1])) << 16U;
            wrong += value != expected++ ? 1U : 0U;
        }
    }
    producer.join();
    EXPECT_EQ(wrong, 0U);
}

host::ParseResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), "zef-host");
    std::vector<char*> argv;
    argv.reserve(args.size());
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    return host::parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, ReadFrequenciesWithUnits) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"7050000", 7050000}, {"7.05M", 7050000}, {"14070k", 14070000},
        {"3.5 MHz", 3500000}, {"100hz", 100},
    };
    for (const auto& [text, hz] : cases) {
        const auto result = parse({"--lo", text});
        ASSERT_TRUE(result.options) << text;
        EXPECT_EQ(result.options->loFrequency, hz) << text;
        EXPECT_EQ(result.options->tuneFrequency, std::nullopt);
    }
}

TEST(Options, RefuseWhatCannotBeMeant) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--lo", "3G"},
             {"--lo", "-5"},
             {"--lo", "3000M"},
             {"--seconds", "2", "--samples", "10"},
             {"--format", "mp3"},
             {"--driver", "usb"},
             {"--mode", "USB"},
             {"--amplitude", "40000"},
         }) {
        const auto result = parse(args);
        EXPECT_FALSE(result.options) << args[0] << " " << args[1];
        EXPECT_EQ(result.exitCode, 2) << args[0] << " " << args[1];
    }
}

TEST(Options, TakeTheFormatFromTheFileNameUnlessGiven) {
    auto result = parse({"-o", "x.sigmf-meta"});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->format, host::OutputFormat::Sigmf);
    result = parse({"-o", "x.wav", "--format", "raw"});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->format, host::OutputFormat::Raw);
    result = parse({});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->format, host::OutputFormat::None);
    EXPECT_EQ(result.options->driver, host::DriverChoice::Auto);
    EXPECT_EQ(result.options->loFrequency, 7050000);
}

} // namespace
} // namespace zef::test

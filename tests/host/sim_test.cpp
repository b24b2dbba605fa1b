// zef-host with the real plug-in and the simulated instrument: the samples
// that reach the file are the ones the instrument sent, in order, and the
// exit codes and Ctrl-C behave alike on Linux and Windows.
#include "run_host.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <thread>

namespace zef::test {
namespace {

std::uint32_t pairValue(const std::string& bytes, std::size_t pair) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + 4 * pair, 4); // I low half, Q high half, little-endian
    return value;
}

TEST(HostWithSimulator, RawStdoutCarriesTheExactTestPattern) {
    ScratchDir dir;
    constexpr std::size_t kPairs = std::size_t{40} * 512;
    const HostRun run = runHost(dir, {"--driver", "sim", "--sim-signal", "pattern", "--samples",
                                      std::to_string(kPairs), "-o", "-", "--summary-json",
                                      dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.out.size(), kPairs * 4);
    const std::uint32_t first = pairValue(run.out, 0);
    EXPECT_EQ(first % 512, 0U) << "the recording starts at a frame boundary";
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < kPairs; ++i) {
        mismatches += pairValue(run.out, i) != first + i ? 1U : 0U;
    }
    EXPECT_EQ(mismatches, 0U) << "consecutive frames, every pair n * 512 + i";
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    EXPECT_EQ(summary["samples"], kPairs);
    EXPECT_EQ(summary["samples_dropped"], 0);
    EXPECT_EQ(summary["odd_blocks"], 0);
    EXPECT_EQ(summary["driver"], "sim");
    EXPECT_EQ(summary["simulator"]["configs_accepted"], 1);
    // What a rate measurement reads: how often the driver woke the plug-in.
    EXPECT_GT(summary["simulator"]["events_signalled"].get<std::uint64_t>(), 0U);
    EXPECT_EQ(summary["simulator"]["event_signal_failures"], 0);
    // The summary went to stderr, since stdout carries samples.
    EXPECT_NE(run.err.find("Summary"), std::string::npos);
}

TEST(HostWithSimulator, WavOfACarrierShowsItsOffset) {
    ScratchDir dir;
    const std::string path = dir.file(nonAsciiNative() + ".wav");
    const HostRun run =
        runHost(dir, {"--driver", "sim", "--lo", "7050000", "--carrier", "7048500", "--seconds",
                      "1", "-o", path, "--summary-json", dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    EXPECT_TRUE(summary["output"].get<std::string>().ends_with(std::string(kNonAsciiUtf8) + ".wav"))
        << summary["output"];
    WavFile wav;
    ASSERT_TRUE(wav.parse(path));
    EXPECT_EQ(wav.fmt32(4), 65104U);
    EXPECT_EQ(wav.centreFrequency(), 7050000U);
    EXPECT_EQ(wav.pairs(), 65104U);
    EXPECT_EQ(wav.pairs(), summary["samples"].get<std::uint64_t>());
    EXPECT_EQ(summary["plugin_name"], "ZEF418 v3.02");
    EXPECT_NEAR(summary["peak_offset_hz"].get<double>(), -1500.0, 2.0);
    // Taken from the first block's arrival to the last's over one second: a
    // worker woken late at either end moves it by a few milliseconds' worth.
    EXPECT_NEAR(summary["effective_rate"].get<double>(), 65104.0, 2000.0);
    EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(strongest peak -1(499|500)\.\d Hz)")))
        << run.out;
}

TEST(HostWithSimulator, SigmfThroughTheBridgeLibrary) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--driver", "sim", "--sim-bridge", "--samples", "8192", "-o",
                                      dir.file("bridge"), "--format", "sigmf", "--summary-json",
                                      dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json meta = readJson(dir.file("bridge.sigmf-meta"));
    EXPECT_EQ(meta["global"]["core:hw"], "ZEF418 v3.02 3.xx");
    EXPECT_EQ(meta["captures"][0]["core:frequency"], 7050000);
    EXPECT_EQ(std::filesystem::file_size(dir.file("bridge.sigmf-data")), 8192U * 4);
    EXPECT_EQ(readJson(dir.file("summary.json"))["driver"], "sim-bridge");
}

TEST(HostWithSimulator, ConflictingLengthOptionsAsAUsageError) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--seconds", "1", "--samples", "100"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("excludes"), std::string::npos) << run.err;
}

// An instrument whose every byte is lost never comes up: zef-host gives up
// and asks the driver, which still lists it.
TEST(HostWithSimulator, NoSamplesFromAnInstrumentThatIsListed) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--driver", "sim", "--sim-drop-rate", "1", "--timeout", "1",
                                      "--summary-json", dir.file("summary.json")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("the driver lists the instrument (ZEF418"), std::string::npos)
        << run.err;
    EXPECT_EQ(readJson(dir.file("summary.json"))["stopped_by"], "no-samples");
}

// Ctrl-C ends the recording early with a file whose header matches its data.
TEST(HostWithSimulator, AValidWavWhenInterrupted) {
    using namespace std::chrono_literals;
    ScratchDir dir;
    const std::string path = dir.file("long.wav");
    const HostRun run = runHost(dir,
                                {"--driver", "sim", "--seconds", "60", "-o", path, "--summary-json",
                                 dir.file("summary.json")},
                                [&path] {
                                    const auto deadline = std::chrono::steady_clock::now() + 20s;
                                    // A second of samples on disk: recording is under way.
                                    auto written = [&path] {
                                        std::error_code ec;
                                        const auto size = std::filesystem::file_size(path, ec);
                                        return ec ? std::uintmax_t{0} : size;
                                    };
                                    while (written() < 216 + 65104 * 4 &&
                                           std::chrono::steady_clock::now() < deadline) {
                                        std::this_thread::sleep_for(20ms);
                                    }
                                });
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    EXPECT_EQ(summary["stopped_by"], "interrupt");
    WavFile wav;
    ASSERT_TRUE(wav.parse(path));
    EXPECT_EQ(wav.riffSize, wav.bytes.size() - 8);
    EXPECT_EQ(wav.chunks["data"].offset + wav.chunks["data"].size, wav.bytes.size());
    EXPECT_EQ(wav.pairs(), summary["samples"].get<std::uint64_t>());
    EXPECT_GT(wav.pairs(), 65104U);
    EXPECT_LT(wav.pairs(), 60U * 65104U);
}

} // namespace
} // namespace zef::test

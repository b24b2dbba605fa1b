// zef-host as a process, driving stand-in plug-ins: what a user sees when a
// plug-in is broken, silent or fine, and when the output cannot be written.
#include "run_host.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <sys/wait.h>

namespace zef::test {
namespace {

using namespace std::chrono_literals;

TEST(HostRefuses, APlugInThatLacksAnExportAndNamesIt) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--plugin", FAKE_EXTIO_INCOMPLETE_PATH, "--driver", "system",
                                      "-o", dir.file("x.wav")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing export(s) RawDataReady"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(FAKE_EXTIO_INCOMPLETE_PATH), std::string::npos) << run.err;
}

TEST(HostRefuses, APlugInPathWhereThereIsNone) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--plugin", dir.file("ExtIO_None.so"), "--driver", "system"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no ExtIO plug-in at " + dir.file("ExtIO_None.so")), std::string::npos)
        << run.err;
}

// The output is opened before any plug-in is loaded: nothing starts that
// would have to be stopped again.
TEST(HostRefuses, AnUnwritablePathBeforeLoadingThePlugIn) {
    ScratchDir dir;
    for (const char* name : {"x.wav", "x.sigmf", "x.iq"}) {
        const std::string path = dir.file("no-such-folder/") + name;
        const HostRun run =
            runHost(dir, {"--plugin", FAKE_EXTIO_TONE_PATH, "--driver", "system", "-o", path});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_NE(run.err.find("cannot create " + dir.file("no-such-folder/")), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Plug-in"), std::string::npos) << run.err;
    }
}

TEST(HostRefuses, WavOrSigmfOnStandardOutput) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--plugin", FAKE_EXTIO_TONE_PATH, "--driver", "system", "-o",
                                      "-", "--format", "wav"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("raw samples only"), std::string::npos) << run.err;
}

TEST(HostReports, AFullDiskAsAnErrorNotAShortFile) {
    ScratchDir dir;
    const HostRun run = runHost(dir, {"--plugin", FAKE_EXTIO_TONE_PATH, "--driver", "system",
                                      "--format", "raw", "-o", "/dev/full", "--seconds", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write /dev/full: No space left on device"), std::string::npos)
        << run.err;
}

TEST(HostReports, SilenceWithItsLikelyCauses) {
    ScratchDir dir;
    const auto started = std::chrono::steady_clock::now();
    const HostRun run =
        runHost(dir, {"--plugin", FAKE_EXTIO_SILENT_PATH, "--driver", "system", "--timeout", "1",
                      "-o", dir.file("quiet.wav"), "--summary-json", dir.file("summary.json")});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("no samples arrived within 1.0 s"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no instrument was found"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("placeholder gateware"), std::string::npos) << run.err;
    // A plug-in cannot say what went wrong; zef-host asks the driver itself.
    EXPECT_NE(run.err.find("zef-host's own look at the driver: the driver "), std::string::npos)
        << run.err;
    EXPECT_EQ(readJson(dir.file("summary.json"))["stopped_by"], "no-samples");
    // What is left behind is an empty but valid recording.
    WavFile wav;
    ASSERT_TRUE(wav.parse(dir.file("quiet.wav")));
    EXPECT_EQ(wav.pairs(), 0U);
}

TEST(HostReports, ThePlugInRelativeToTheWorkingFolderWhenBelowIt) {
    ScratchDir dir;
    const std::filesystem::path plugin = FAKE_EXTIO_TONE_PATH;
    const auto before = std::filesystem::current_path();
    std::string shown;
    const auto elsewhere = std::filesystem::path(dir.file("stdout")).parent_path();
    for (const auto& folder : {plugin.parent_path().parent_path(), elsewhere}) {
        std::filesystem::current_path(folder);
        const HostRun run =
            runHost(dir, {"--plugin", plugin.string(), "--driver", "system", "--samples", "512"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        shown += run.err.substr(0, run.err.find(':')) + "\n";
    }
    std::filesystem::current_path(before);
    const auto below = plugin.parent_path().filename() / plugin.filename();
    EXPECT_EQ(shown, "Plug-in " + below.string() + "\nPlug-in " + plugin.string() + "\n");
}

TEST(HostRecords, AWavFileThatParsesBack) {
    ScratchDir dir;
    const HostRun run = runHost(
        dir, {"--plugin", FAKE_EXTIO_TONE_PATH, "--driver", "system", "--lo", "14.07M", "--samples",
              "20000", "-o", dir.file("tone.wav"), "--summary-json", dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    WavFile wav;
    ASSERT_TRUE(wav.parse(dir.file("tone.wav")));
    EXPECT_EQ(wav.order, (std::vector<std::string>{"fmt ", "auxi", "data"}));
    EXPECT_EQ(wav.riffSize, wav.bytes.size() - 8);
    EXPECT_EQ(wav.chunks["fmt "].size, 16U);
    EXPECT_EQ(wav.fmt16(0), 1);      // PCM
    EXPECT_EQ(wav.fmt16(2), 2);      // I and Q
    EXPECT_EQ(wav.fmt32(4), 65104U); // what GetHWSR said
    EXPECT_EQ(wav.fmt32(8), 65104U * 4);
    EXPECT_EQ(wav.fmt16(12), 4);
    EXPECT_EQ(wav.fmt16(14), 16);
    EXPECT_EQ(wav.chunks["auxi"].size, 164U);
    EXPECT_EQ(wav.centreFrequency(), 14070000U);
    EXPECT_GE(wav.auxiTime(0, 0), 2024);
    EXPECT_EQ(wav.pairs(), 20000U);
    EXPECT_EQ(summary["samples"], 20000);
    EXPECT_GE(summary["samples_delivered"].get<std::uint64_t>(), 20000U);
    EXPECT_EQ(summary["samples_dropped"], 0);
    EXPECT_EQ(summary["samples_delivered"].get<std::uint64_t>(),
              summary["blocks"].get<std::uint64_t>() * 512);
    EXPECT_EQ(summary["plugin_name"], "Fake tone");
    EXPECT_NEAR(summary["peak_offset_hz"].get<double>(), 1000.0, 1.0);
    EXPECT_NEAR(summary["peak_level_dbfs"].get<double>(), -6.02, 0.3);
}

TEST(HostRecords, SigmfThatParsesBack) {
    ScratchDir dir;
    const HostRun run =
        runHost(dir, {"--plugin", FAKE_EXTIO_TONE_PATH, "--driver", "system", "--lo", "7050000",
                      "--samples", "4096", "-o", dir.file("tone.sigmf-meta"), "-q",
                      "--summary-json", dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json meta = readJson(dir.file("tone.sigmf-meta"));
    EXPECT_EQ(meta["global"]["core:datatype"], "ci16_le");
    EXPECT_EQ(meta["global"]["core:version"], "1.2.0");
    EXPECT_EQ(meta["global"]["core:sample_rate"], 65104);
    EXPECT_EQ(meta["global"]["core:hw"], "Fake tone test");
    ASSERT_EQ(meta["captures"].size(), 1U);
    EXPECT_EQ(meta["captures"][0]["core:sample_start"], 0);
    EXPECT_EQ(meta["captures"][0]["core:frequency"], 7050000);
    EXPECT_TRUE(std::regex_match(meta["captures"][0]["core:datetime"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    EXPECT_TRUE(meta["annotations"].is_array());
    EXPECT_TRUE(meta["annotations"].empty());
    EXPECT_EQ(std::filesystem::file_size(dir.file("tone.sigmf-data")), 4096U * 4);
    EXPECT_EQ(readJson(dir.file("summary.json"))["samples"], 4096);
    EXPECT_TRUE(run.out.empty()) << "--quiet prints nothing: " << run.out;
}

// A reader of standard output that stops early ends the recording, not the
// program with a signal.
TEST(HostRecords, ToAPipeThatClosesEarly) {
    ScratchDir dir;
    const std::string command = std::string(ZEF_HOST_EXE) + " --plugin " + FAKE_EXTIO_TONE_PATH +
                                " --driver system -q --seconds 30 -o - --summary-json " +
                                dir.file("summary.json") + " | head -c 40000 > /dev/null";
    const int status = std::system(("bash -c 'set -o pipefail; " + command + "'").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readJson(dir.file("summary.json"))["stopped_by"], "pipe-closed");
}

} // namespace
} // namespace zef::test

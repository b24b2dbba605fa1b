// The ExtIO plug-in and zef-host as Windows programs under Wine, through the
// bridge lin_ftd2xx.dll, the open driver libzefd2xx and the real libftdi1 and
// libusb, on FT232R-like bridges emulated at usbdevfs (tests/usb/). Built for
// the word size of the build: the default preset runs the 64-bit Windows
// programs of the mingw64 build, the linux32 preset the 32-bit ones of mingw32.
#include "carrier_checks.h"
#include "usb_testbed.h"
#include "wine_run.h"

#include "fpga_image.h"
#include "main_thread/bitbang_expansion.h"
#include "main_thread/fpga_loader.h"
#include "main_thread/settings_frame.h"
#include "plugin/tuning.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace zef::usbtest; // NOLINT(google-build-using-namespace)
using zef::winetest::WineProcess;
namespace fs = std::filesystem;

constexpr auto kRunLimit = std::chrono::seconds(90);
constexpr std::int32_t kLoHz = 7050000;

const fs::path kWindowsBuild = ZEF_WINDOWS_BUILD_DIR;

std::string winePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix != nullptr ? prefix : ZEF_DEFAULT_WINEPREFIX;
}

// A host program's folder, as a user lays it out: the plug-in, the bridge's
// stub and the programs side by side.
class HostFolder {
  public:
    HostFolder() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("zef-wine-bridge-" + std::string(info->name()) + "-" + std::to_string(getpid()));
        fs::create_directories(path_);
        for (const fs::path& file :
             {kWindowsBuild / "src/ExtIO_Zef.dll", kWindowsBuild / "bin/zef-host.exe",
              kWindowsBuild / "tests/winebridge/bridge_client.exe",
              fs::path(ZEF_WINE_BRIDGE_STUB)}) {
            fs::copy_file(file, path_ / file.filename(), fs::copy_options::overwrite_existing);
        }
    }
    ~HostFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    HostFolder(const HostFolder&) = delete;
    HostFolder& operator=(const HostFolder&) = delete;
    [[nodiscard]] std::string path() const { return path_.string(); }
    [[nodiscard]] std::string file(const std::string& name) const {
        return (path_ / name).string();
    }

  private:
    fs::path path_;
};

class WineBridge : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (haveWindowsBuild()) {
            setenv("WINEPREFIX", winePrefix().c_str(), 1);
            zef::winetest::startWineServer(ZEF_WINE_LOADER);
        }
    }
    static bool haveWindowsBuild() {
        return fs::exists(kWindowsBuild / "tests/winebridge/bridge_client.exe");
    }
    void SetUp() override {
        if (!haveWindowsBuild()) {
            if (std::getenv("ZEF_REQUIRE_WINE_BRIDGE") != nullptr) {
                FAIL() << "no Windows build at " << kWindowsBuild;
            }
            GTEST_SKIP() << "needs the Windows build " << kWindowsBuild;
        }
        folder_ = std::make_unique<HostFolder>();
    }

    // Runs PROGRAM.exe from the host folder, on this test bed.
    std::unique_ptr<WineProcess> run(const std::string& program,
                                     const std::vector<std::string>& args,
                                     std::vector<std::string> env = {}) {
        for (const std::string& variable : bed.childEnvironment()) {
            env.push_back(variable);
        }
        env.emplace_back("WINEDLLPATH=" ZEF_WINE_BRIDGE_DIR);
        env.emplace_back("WINEDEBUG=-all");
        env.emplace_back("WINEDLLOVERRIDES=mscoree,mshtml=");
        return std::make_unique<WineProcess>(ZEF_WINE_LOADER, folder_->path(), program, args, env);
    }

    UsbTestbed bed;
    std::unique_ptr<HostFolder> folder_;
};

// Program pulse, release, the image expanded, the trailer: exactly.
std::vector<std::uint8_t> expectedBitBang() {
    const zef::FpgaImage image = zef::fpgaImage();
    std::vector<std::uint8_t> bytes{0x00, zef::kProgramLine};
    std::vector<std::uint8_t> expanded(image.length * zef::kBitBangBytesPerImageByte);
    zef::expandImageBytes(image.span(), expanded.data());
    bytes.insert(bytes.end(), expanded.begin(), expanded.end());
    for (std::size_t pair = 0; pair < zef::kTrailerPairs; ++pair) {
        bytes.push_back(zef::kBitBangOutputs);
        bytes.push_back(zef::kProgramLine | zef::kConfigData);
    }
    return bytes;
}

// What zef-host sends for --lo 7050000 with its defaults (tuned to the LO,
// mode A), through the bridge library: flag bit 7 clear.
std::vector<std::uint8_t> expectedSettings() {
    const std::uint8_t mode = zef::ModeCode('A');
    const zef::SettingsFrame frame =
        zef::buildSettingsFrame({zef::TuningWord(kLoHz),
                                 kLoHz,
                                 mode,
                                 zef::TuningWord(kLoHz, zef::modeOffsetHz(mode)),
                                 0,
                                 true,
                                 {}});
    std::vector<std::uint8_t> sent(zef::kSettingsPreamble.size() + frame.size());
    std::memcpy(sent.data(), zef::kSettingsPreamble.data(), zef::kSettingsPreamble.size());
    std::memcpy(sent.data() + zef::kSettingsPreamble.size(), frame.data(), frame.size());
    return sent;
}

bool contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

TEST_F(WineBridge, ExportsExactlyTheSixteenNamesCalleeCleans) {
    bed.plug(1, 1, "ZEF418");
    const auto client = run("bridge_client.exe", {"exports"});
    ASSERT_EQ(client->finish(kRunLimit), 0) << client->output() << client->errors();
    const std::string out = client->output();
    EXPECT_NE(out.find("functions 16\n"), std::string::npos) << out;
    const char* names[] = {
        "lin_FT_Close",
        "lin_FT_CreateDeviceInfoList",
        "lin_FT_GetQueueStatus",
        "lin_FT_ListDevices",
        "lin_FT_Open",
        "lin_FT_OpenEx",
        "lin_FT_Purge",
        "lin_FT_Read",
        "lin_FT_ResetDevice",
        "lin_FT_RestartInTask",
        "lin_FT_SetBaudRate",
        "lin_FT_SetBitMode",
        "lin_FT_SetLatencyTimer",
        "lin_FT_SetTimeouts",
        "lin_FT_StopInTask",
        "lin_FT_Write",
    };
    std::string expected;
    for (const char* name : names) {
        expected += std::string("export ") + name + "\n";
    }
    EXPECT_NE(out.find(expected), std::string::npos) << "in name order, and no other:\n" << out;
    if (sizeof(void*) == 4) {
        const std::string::difference_type probed = std::count(out.begin(), out.end(), '\n') - 17;
        EXPECT_EQ(probed, 16) << out;
        std::size_t at = 0;
        while ((at = out.find("callee-cleans ", at)) != std::string::npos) {
            const std::string line = out.substr(at, out.find('\n', at) - at);
            unsigned popped = 0;
            unsigned pushed = 1;
            EXPECT_EQ(std::sscanf(line.c_str(), "callee-cleans %*s %u of %u", &popped, &pushed), 2)
                << line;
            EXPECT_EQ(popped, pushed) << line;
            at += line.size();
        }
    }
}

// The plug-in opens index 0 of the bridge library whatever it is: only the
// instrument may be listed, and in location order.
TEST_F(WineBridge, ListsOnlyTheInstrumentsInLocationOrderAndNeverOpensAForeignDevice) {
    EmulatedBridge& foreign = bed.plug(1, 1, "FT232R USB UART");
    EmulatedBridge& kr27xx = bed.plug(1, 3, "Digital Oscilloscope KR27xx");
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418");
    EmulatedBridge& relative = bed.plug(1, 4, "Digital Oscilloscope");
    const auto client = run("bridge_client.exe", {"list"});
    ASSERT_EQ(client->finish(kRunLimit), 0) << client->output() << client->errors();
    EXPECT_EQ(client->output(), "count 0 2\n"
                                "device 0 0 0 0x12 ZEF418\n"
                                "device 1 0 0 0x13 Digital Oscilloscope KR27xx\n"
                                "bounds kept\n"
                                "past-end 2\n"
                                "open 0\n"
                                "close 0\n"
                                "stale 1\n"
                                "null 6\n");
    EXPECT_EQ(zef418.claims(), 1U);
    for (EmulatedBridge* other : {&foreign, &kr27xx, &relative}) {
        EXPECT_EQ(other->claims(), 0U);
    }
}

// One recording covers the road: discovery past a foreign bridge listed
// first, the gateware and the settings frame byte for byte on the wire, and
// ten seconds of samples with no block lost. The simulator's ftd2xx.dll lies
// beside the host too: the plug-in prefers the bridge.
TEST_F(WineBridge, ZefHostRecordsTenSecondsWithTheGatewareAndSettingsOnTheWire) {
    EmulatedBridge& foreign = bed.plug(1, 1, "FT232R USB UART");
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418");
    fs::copy_file(kWindowsBuild / "sim/plain/ftd2xx.dll", folder_->file("ftd2xx.dll"));
    const auto host = run("zef-host.exe",
                          {"--driver", "system", "--lo", std::to_string(kLoHz), "--seconds", "10",
                           "-q", "--timeout", "30", "-o", "rec.raw", "--summary-json", "rec.json"});
    ASSERT_EQ(host->finish(kRunLimit), 0) << host->errors();
    const auto summary = nlohmann::json::parse(std::ifstream(folder_->file("rec.json")));
    EXPECT_EQ(summary["samples"].get<std::uint64_t>(), 651040U);
    EXPECT_EQ(summary["samples_dropped"].get<std::uint64_t>(), 0U);
    EXPECT_NEAR(summary["peak_offset_hz"].get<double>(), 1000.0, 2.0);
    EXPECT_EQ(summary["driver_library"].get<std::string>(),
              std::string("lin_ftd2xx.dll \u2192 ") + ZEFD2XX_PATH)
        << "both ends named";
    const std::vector<std::complex<double>> samples = readIq(folder_->file("rec.raw"));
    ASSERT_EQ(samples.size(), 651040U);
    EXPECT_LT(worstPhaseStep(samples, 1000.0), 0.2)
        << "no block lost or damaged; the gateware dropped " << zef418.with([](BridgeChannel& b) {
               return b.environment().counters.sample_frames_overrun;
           })
        << " frames";

    const WireLog wire = zef418.with([](BridgeChannel& bridge) { return bridge.wire(); });
    EXPECT_TRUE(wire.bitBang == expectedBitBang())
        << wire.bitBang.size() << " bit-bang bytes on the wire, " << expectedBitBang().size()
        << " expected";
    EXPECT_TRUE(contains(wire.uart, {0xA5, 0x00, 0x00})) << "the start command";
    EXPECT_TRUE(contains(wire.uart, expectedSettings())) << "the settings frame";
    EXPECT_EQ(foreign.claims(), 0U);
}

// The host calls nothing after StartHW: the plug-in reopens the replugged
// instrument through the bridge by itself, loads it and streams on.
TEST_F(WineBridge, TheStreamResumesAfterAnUnplugAndAReplug) {
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418", kFt232h); // high speed: a short load
    const auto client = run("bridge_client.exe", {"stream"});
    ASSERT_NE(client->waitForLine("streaming", kRunLimit), "") << client->output();
    bed.remove(zef418);
    ASSERT_NE(client->waitForLine("stalled", kRunLimit), "") << client->output();
    bed.plug(1, 2, "ZEF418", kFt232h);
    EXPECT_NE(client->waitForLine("resumed", kRunLimit), "") << client->output();
    EXPECT_EQ(client->finish(kRunLimit), 0) << client->output() << client->errors();
}

// The read waits inside the bridge (no gateware, so nothing comes) when the
// cable is pulled: it returns, the link reports the loss, nothing crashes.
TEST_F(WineBridge, AnUnplugWhileAReadWaitsInsideTheBridgeEndsTheRead) {
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418");
    const auto client = run("bridge_client.exe", {"blocked-read"});
    ASSERT_EQ(client->waitForLine("open", kRunLimit), "open 0") << client->output();
    ASSERT_NE(client->waitForLine("reading", kRunLimit), "") << client->output();
    // The read has a 3 s time-out; whenever the unplug lands, the outcome is the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bed.remove(zef418);
    const std::string read = client->waitForLine("read", std::chrono::seconds(10));
    unsigned status = 99;
    unsigned got = 99;
    unsigned ms = 0;
    ASSERT_EQ(std::sscanf(read.c_str(), "read %u %u %u", &status, &got, &ms), 3)
        << client->output();
    EXPECT_EQ(got, 0U);
    EXPECT_LT(ms, 5000U);
    EXPECT_EQ(client->waitForLine("queue", kRunLimit), "queue 4") << "FT_IO_ERROR";
    EXPECT_EQ(client->waitForLine("close", kRunLimit), "close 0");
    EXPECT_EQ(client->finish(kRunLimit), 0) << client->output() << client->errors();
}

// Without a Linux library the bridge does not load: the plug-in's binding
// reports 100, and zef-host names both ends and what was tried.
TEST_F(WineBridge, WithoutTheLinuxLibraryTheStatusIs100AndTheTextSaysWhy) {
    bed.plug(1, 2, "ZEF418");
    const std::string missing = "/nonexistent/zefd2xx/libzefd2xx.so";
    const auto client = run("bridge_client.exe", {"exports"}, {"ZEF_D2XX=" + missing});
    EXPECT_EQ(client->finish(kRunLimit), 1);
    EXPECT_EQ(client->output(), "not loaded 1114\n") << "DllMain refused: ERROR_DLL_INIT_FAILED";
    const auto host =
        run("zef-host.exe",
            {"--driver", "system", "--seconds", "1", "--timeout", "5", "-q", "-o", "rec.raw"},
            {"ZEF_D2XX=" + missing});
    EXPECT_EQ(host->finish(kRunLimit), 3) << "no samples, and no crash";
    const std::string err = host->errors();
    EXPECT_NE(err.find("(status 100)"), std::string::npos) << err;
    EXPECT_NE(err.find("lin_ftd2xx.dll \u2192 no Linux D2XX library: " + missing + ": not there"),
              std::string::npos)
        << err;
}

TEST_F(WineBridge, ALibraryOfTheOtherWordSizeIsRefusedAndNamedAsSuch) {
    bed.plug(1, 2, "ZEF418");
    const auto host =
        run("zef-host.exe",
            {"--driver", "system", "--seconds", "1", "--timeout", "5", "-q", "-o", "rec.raw"},
            {std::string("ZEF_D2XX=") + ZEF_OTHER_WORD_SIZE_LIBRARY});
    EXPECT_EQ(host->finish(kRunLimit), 3);
    const std::string bits = std::to_string(sizeof(void*) * 8);
    const std::string other = sizeof(void*) == 4 ? "64" : "32";
    const std::string err = host->errors();
    EXPECT_NE(err.find("(status 100)"), std::string::npos) << err;
    EXPECT_NE(err.find(std::string(ZEF_OTHER_WORD_SIZE_LIBRARY) + ": a " + other +
                       "-bit library, and this " + bits + "-bit Windows program can load only a " +
                       bits + "-bit one"),
              std::string::npos)
        << err;
}

} // namespace

// Discovery, opening and the non-streaming controls of the "zef" driver.
#include "soapy_fixture.h"

#include "ZefDevice.hpp"
#include "plugin/entry_points.h"
#include "plugin/tuning.h"
#include "sha256.h"

#include <SoapySDR/Formats.hpp>

#include <chrono>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <thread>

namespace zef::test {
namespace {

bool waitForSettingsFrames(std::uint64_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (simCounters().settings_received < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(SoapyFind, ListsOnlyTheInstrumentDescriptionsAndNeverOpens) {
    zefsim_reset();
    zefsim_add_device("FT232R USB UART", 0x1001, 0, 0);
    zefsim_add_device("Digital Oscilloscope KR27xx", 0x1002, 0, 0);
    zefsim_add_device("Digital Oscilloscope", 0x1003, 0, 0);
    zefsim_add_device("Digital Oscilloscope KR27", 0x1004, 0, 0);
    zefsim_add_device("ZEF418", 0x1005, 0, 0);
    zefsim_add_device("ZEF4180", 0x1006, 0, 0);

    const SoapySDR::KwargsList found = SoapySDR::Device::enumerate("driver=zef");
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].at("description"), "Digital Oscilloscope KR27xx");
    EXPECT_EQ(found[0].at("location"), "0x1002");
    EXPECT_EQ(found[1].at("description"), "ZEF418");
    EXPECT_EQ(found[1].at("location"), "0x1005");
    EXPECT_EQ(found[1].at("label"), "ZEF418 @ 0x1005");
    EXPECT_EQ(simCounters().opens, 0U);

    const auto byLocation = SoapySDR::Device::enumerate("driver=zef,location=0x1005");
    ASSERT_EQ(byLocation.size(), 1U);
    EXPECT_EQ(byLocation[0].at("description"), "ZEF418");
    EXPECT_TRUE(SoapySDR::Device::enumerate("driver=zef,location=0x1001").empty());
}

TEST(SoapyFind, ConcurrentFindsAgree) {
    zefsim_reset();
    zefsim_add_device("ZEF418", kLocation, 0, 0);
    std::vector<std::thread> finders;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        finders.emplace_back([&good] {
            for (int i = 0; i < 25; ++i) {
                good += zef::soapy::findInstruments({}).size() == 1 ? 1 : 0;
            }
        });
    }
    for (auto& finder : finders) {
        finder.join();
    }
    EXPECT_EQ(good.load(), 100);
}

// Each failure a user meets on make: one line that names it and says what
// to do, and no device of another kind opened on the way.
struct OpenFailure {
    const char* name;
    std::vector<std::pair<const char*, int>> devices; // description, held
    SoapySDR::Kwargs args;
    const char* says;
    const char* todo;
};

void PrintTo(const OpenFailure& c, std::ostream* out) {
    *out << c.name;
}

class SoapyOpenFails : public testing::TestWithParam<OpenFailure> {};

TEST_P(SoapyOpenFails, WithOneLineThatSaysWhatToDo) {
    const OpenFailure& c = GetParam();
    zefsim_reset();
    std::uint32_t location = 0x1001;
    for (const auto& [description, held] : c.devices) {
        zefsim_add_device(description, location++, held, 0);
    }
    try {
        zef::soapy::ZefDevice device(c.args);
        FAIL() << "make succeeded";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("ZEF418: ", 0), 0U) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_NE(message.find(c.todo), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_EQ(simCounters().opens, 0U);
    EXPECT_EQ(simCounters().bitbang_bytes, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Soapy, SoapyOpenFails,
    testing::Values(OpenFailure{"ForeignCableAlone",
                                {{"FT232R USB UART", 0}},
                                {},
                                "no instrument found: the "
                                "driver lists 1 device(s)",
                                "plug the instrument in"},
                    OpenFailure{"HeldByAnotherProgram",
                                {{"ZEF418", 1}, {"FT232R USB UART", 0}},
                                {},
                                "the instrument at 0x1001 is held by another program",
                                "close the program that uses it"},
                    OpenFailure{"NoInstrumentAtTheLocation",
                                {{"ZEF418", 0}},
                                {{"location", "0x2222"}},
                                "no instrument at location 0x2222 (there is one at 0x1001)",
                                "give a location that SoapySDRUtil --find=driver=zef shows"},
                    OpenFailure{"LocationThatIsNoNumber",
                                {{"ZEF418", 0}},
                                {{"location", "0x10O1"}},
                                "location=0x10O1 is not a location",
                                "give one such as 0x2101"},
                    OpenFailure{"SerialCannotChoose",
                                {{"ZEF418", 0}},
                                {{"serial", "FT1ZEF\n"}},
                                "serial=FT1ZEF? cannot choose an instrument",
                                "give location= as SoapySDRUtil --find=driver=zef shows it"}),
    [](const testing::TestParamInfo<OpenFailure>& param) { return param.param.name; });

TEST_F(SoapyInstrument, MakeConfiguresTheFpgaAndSendsSettings) {
    SoapySDR::Device& device = open();
    EXPECT_TRUE(deviceState.deviceReady.load());
    EXPECT_EQ(simCounters().configs_accepted, 1U);
    EXPECT_TRUE(waitForSettingsFrames(1));
    EXPECT_EQ(device.getDriverKey(), "zef");
    EXPECT_EQ(device.getHardwareKey(), "ZEF418");
    EXPECT_EQ(device.getHardwareInfo().at("location"), "0x2101");
    EXPECT_EQ(device.getNumChannels(SOAPY_SDR_RX), 1U);
    EXPECT_EQ(device.getNumChannels(SOAPY_SDR_TX), 0U);
    EXPECT_EQ(device.listAntennas(SOAPY_SDR_RX, 0), std::vector<std::string>{"RX"});
}

TEST_F(SoapyInstrument, OneDevicePerProcess) {
    open();
    try {
        zef::soapy::ZefDevice second({});
        FAIL() << "a second device opened";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("one instrument per process"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("unmake that device first"), std::string::npos);
    }
    SoapySDR::Device::unmake(device_);
    device_ = nullptr;
    open(); // closed devices free the slot
}

// What the instrument was told and what it carries, as SoapySDRUtil --probe
// shows it, and the open's progress on the log.
TEST_F(SoapyInstrument, HardwareInfoAndProgressOfTheOpen) {
    std::array<std::uint8_t, 64> blockA{};
    std::array<std::uint8_t, 64> blockB{};
    blockA[0] = 0x30; // two-point low 30000 and high 36000: code 0x3360
    blockA[1] = 0x75;
    blockA[2] = 0xA0;
    blockA[3] = 0x8C;
    zefsim_seal_block(blockA.data());
    zefsim_seal_block(blockB.data());
    zefsim_set_calibration(blockA.data(), blockB.data());
    zefsim_set_model(7);
    LogCapture log;
    const SoapySDR::Kwargs info = open().getHardwareInfo();

    EXPECT_EQ(info.at("model"), "7");
    EXPECT_TRUE(info.at("driver_library").ends_with("/sim/plain/libftd2xx.so"))
        << info.at("driver_library");
    EXPECT_EQ(info.at("driver_status"), "FT_OK (status 0): success");
    EXPECT_NE(info.at("calibration_codes").find("two-point 0x3360, three-point 0x8000"),
              std::string::npos)
        << info.at("calibration_codes");
    // The image as the simulator rebuilt it from the bit-bang load.
    std::vector<std::uint8_t> loaded(zefsim_config_image(nullptr, 0));
    zefsim_config_image(loaded.data(), loaded.size());
    EXPECT_EQ(info.at("gateware_bytes"), std::to_string(loaded.size()));
    EXPECT_EQ(info.at("gateware_sha256"), sha256Hex(loaded));
    const bool placeholder = zef::instrument::gatewareImage().placeholder;
    EXPECT_EQ(info.at("gateware").rfind("placeholder: ", 0) == 0, placeholder);

    EXPECT_EQ(log.count(SOAPY_SDR_INFO, "ZEF418: opened ZEF418 at 0x2101 through /"), 1U);
    EXPECT_EQ(log.count(SOAPY_SDR_INFO, "the placeholder: it cannot bring up a real instrument"),
              placeholder ? 1U : 0U);
    EXPECT_EQ(log.count(SOAPY_SDR_INFO, "ZEF418: gateware loaded in "), 1U);
    EXPECT_EQ(log.count(SOAPY_SDR_INFO, "ZEF418: instrument ready after "), 1U);
}

TEST_F(SoapyInstrument, SampleRateIsFixed) {
    SoapySDR::Device& device = open();
    EXPECT_EQ(device.listSampleRates(SOAPY_SDR_RX, 0), std::vector<double>{65104.0});
    const auto ranges = device.getSampleRateRange(SOAPY_SDR_RX, 0);
    ASSERT_EQ(ranges.size(), 1U);
    EXPECT_EQ(ranges[0].minimum(), 65104.0);
    EXPECT_EQ(ranges[0].maximum(), 65104.0);
    double fullScale = 0;
    EXPECT_EQ(device.getNativeStreamFormat(SOAPY_SDR_RX, 0, fullScale), SOAPY_SDR_CS16);
    EXPECT_EQ(fullScale, 32768.0);
}

// Programs catch nothing around these calls. For a direction or a channel
// that does not exist the module answers what SoapySDR's own Device base
// class answers, and its setters change nothing and throw nothing.
TEST_F(SoapyInstrument, MissingDirectionsAndChannelsAnswerAsTheBaseClass) {
    SoapySDR::Device& device = open();
    const SoapySDR::Device base;
    LogCapture log;
    device.setFrequency(SOAPY_SDR_RX, 0, 7.1e6);
    const std::pair<int, size_t> missing[] = {
        {SOAPY_SDR_TX, 0}, {SOAPY_SDR_TX, 1}, {SOAPY_SDR_RX, 1}};
    for (const auto& [dir, ch] : missing) {
        SCOPED_TRACE(testing::Message() << "direction " << dir << ", channel " << ch);
        EXPECT_EQ(device.listAntennas(dir, ch), base.listAntennas(dir, ch));
        EXPECT_EQ(device.getAntenna(dir, ch), base.getAntenna(dir, ch));
        EXPECT_EQ(device.listFrequencies(dir, ch), base.listFrequencies(dir, ch));
        EXPECT_EQ(device.getFrequency(dir, ch), base.getFrequency(dir, ch));
        EXPECT_EQ(device.getFrequency(dir, ch, "RF"), base.getFrequency(dir, ch, "RF"));
        EXPECT_EQ(device.getFrequencyRange(dir, ch).size(), base.getFrequencyRange(dir, ch).size());
        EXPECT_EQ(device.getFrequencyRange(dir, ch, "RF").size(),
                  base.getFrequencyRange(dir, ch, "RF").size());
        EXPECT_EQ(device.listSampleRates(dir, ch), base.listSampleRates(dir, ch));
        EXPECT_EQ(device.getSampleRate(dir, ch), base.getSampleRate(dir, ch));
        EXPECT_EQ(device.getSampleRateRange(dir, ch).size(),
                  base.getSampleRateRange(dir, ch).size());
        EXPECT_EQ(device.listGains(dir, ch), base.listGains(dir, ch));
        EXPECT_EQ(device.listBandwidths(dir, ch), base.listBandwidths(dir, ch));
        EXPECT_EQ(device.getStreamFormats(dir, ch), base.getStreamFormats(dir, ch));
        EXPECT_EQ(device.hasDCOffsetMode(dir, ch), base.hasDCOffsetMode(dir, ch));
        for (int round = 0; round < 2; ++round) {
            EXPECT_NO_THROW(device.setAntenna(dir, ch, "TX"));
            EXPECT_NO_THROW(device.setFrequency(dir, ch, 433.92e6));
            EXPECT_NO_THROW(device.setFrequency(dir, ch, "RF", 433.92e6));
            EXPECT_NO_THROW(device.setSampleRate(dir, ch, 2.4e6));
            EXPECT_NO_THROW(device.setGain(dir, ch, 20.0));
            EXPECT_NO_THROW(device.setBandwidth(dir, ch, 1e6));
            EXPECT_NO_THROW(device.setDCOffsetMode(dir, ch, true));
        }
    }
    EXPECT_EQ(device.getFrequency(SOAPY_SDR_RX, 0), 7.1e6) << "receive channel 0 keeps its own";
    EXPECT_FALSE(device.getDCOffsetMode(SOAPY_SDR_RX, 0));
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "setFrequency for transmit channel 0 ignored: the "
                                           "instrument has receive channel 0 alone"),
              1U);
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "setAntenna for"), 1U) << "one line at most";
}

// What a program asks that the instrument cannot meet is limited to the
// nearest value it has, logged (a warning the first time), and read back
// as set: the program sees what the instrument does.
TEST_F(SoapyInstrument, ValuesBeyondTheInstrumentAreLimitedLoggedAndReadBack) {
    SoapySDR::Device& device = open();
    ASSERT_TRUE(waitForSettingsFrames(1));
    LogCapture log;
    struct Limited {
        std::function<void()> set;
        std::function<double()> get;
        double readBack;
        const char* warning;
    };
    const auto tune = [&device](const char* hz) { device.writeSetting("tune", hz); };
    const auto tuned = [&device] { return std::stod(device.readSetting("tune")); };
    const std::vector<Limited> cases = {
        {[&] { device.setFrequency(SOAPY_SDR_RX, 0, 145e6); },
         [&] { return device.getFrequency(SOAPY_SDR_RX, 0); }, 100e6,
         "ZEF418: frequency 145000000 Hz is beyond the instrument's 0 to 100 MHz; set to "
         "100000000 Hz instead"},
        {[&] { device.setFrequency(SOAPY_SDR_RX, 0, "RF", -1e3); },
         [&] { return device.getFrequency(SOAPY_SDR_RX, 0, "RF"); }, 0.0, nullptr},
        {[&] { device.setSampleRate(SOAPY_SDR_RX, 0, 2.048e6); },
         [&] { return device.getSampleRate(SOAPY_SDR_RX, 0); }, 65104.0,
         "the sample rate is fixed at 65104 S/s"},
        {[&] { tune("433920000"); }, tuned, 100e6,
         "ZEF418: tuned frequency 433920000 Hz is beyond the instrument's 0 to 100 MHz"},
        {[&] { tune("-7e6"); }, tuned, 0.0, nullptr},
    };
    for (const Limited& c : cases) {
        EXPECT_NO_THROW(c.set());
        EXPECT_EQ(c.get(), c.readBack);
        if (c.warning != nullptr) {
            EXPECT_EQ(log.count(SOAPY_SDR_WARNING, c.warning), 1U) << c.warning;
        }
    }
    device.setFrequency(SOAPY_SDR_RX, 0, 150e6);
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "ZEF418: frequency "), 1U) << "a warning the first time";
    EXPECT_EQ(log.count(SOAPY_SDR_DEBUG, "ZEF418: frequency 150000000 Hz is beyond"), 1U);
    EXPECT_EQ(deviceState.loWord.load(), TuningWord(100000000)) << "what the instrument is told";
    device.setFrequency(SOAPY_SDR_RX, 0, std::nan(""));
    EXPECT_EQ(device.getFrequency(SOAPY_SDR_RX, 0), 100e6) << "NaN has no nearest: ignored";
}

// Values that change nothing are accepted, each kind with one line at most;
// programs send them as a matter of course (CubicSDR sets the antenna "",
// gr-osmosdr a bandwidth, GNU Radio a gain).
TEST_F(SoapyInstrument, HarmlessSettersAreAcceptedWithOneLineAtMost) {
    SoapySDR::Device& device = open();
    device.writeSetting("mode", "U");
    device.writeSetting("tune", "7050000");
    LogCapture log;
    for (int round = 0; round < 3; ++round) {
        EXPECT_NO_THROW(device.setAntenna(SOAPY_SDR_RX, 0, ""));
        EXPECT_NO_THROW(device.setAntenna(SOAPY_SDR_RX, 0, "TX/RX"));
        EXPECT_NO_THROW(device.setGainMode(SOAPY_SDR_RX, 0, true));
        EXPECT_NO_THROW(device.setGain(SOAPY_SDR_RX, 0, 20.0));
        EXPECT_NO_THROW(device.setGain(SOAPY_SDR_RX, 0, "LNA", 10.0));
        EXPECT_NO_THROW(device.setBandwidth(SOAPY_SDR_RX, 0, 10e3));
        EXPECT_NO_THROW(device.setFrequency(SOAPY_SDR_RX, 0, "CORR", 5.0));
        EXPECT_NO_THROW(device.writeSetting("mode", "usb"));
        EXPECT_NO_THROW(device.writeSetting("tune", "7,05e6")); // a comma locale's number
        EXPECT_NO_THROW(device.writeSetting("volume", "3"));
    }
    EXPECT_EQ(device.getAntenna(SOAPY_SDR_RX, 0), "RX");
    EXPECT_EQ(device.readSetting("mode"), "U");
    EXPECT_EQ(device.readSetting("tune"), "7050000");
    EXPECT_EQ(device.readSetting("volume"), "");
    EXPECT_EQ(deviceState.tuneWord.load(), 151434469) << "7051717 Hz with the USB offset";
    for (const char* line : {"no antenna named", "there is no antenna \"TX/RX\"",
                             "gain and bandwidth calls are accepted and ignored",
                             "there is no frequency component \"CORR\"",
                             "mode must be one of none, C, U, L, A, F, E; got \"usb\"",
                             "setting \"tune\" needs a number in Hz, got \"7,05e6\"",
                             "there is no setting \"volume\""}) {
        EXPECT_EQ(log.count(line), 1U) << line;
    }
}

TEST_F(SoapyInstrument, FrequencyDrivesTheLocalOscillatorLikeSetHWLO) {
    SoapySDR::Device& device = open();
    ASSERT_TRUE(waitForSettingsFrames(1));
    EXPECT_EQ(device.listFrequencies(SOAPY_SDR_RX, 0), std::vector<std::string>{"RF"});
    const std::uint64_t before = simCounters().settings_received;

    device.setFrequency(SOAPY_SDR_RX, 0, 14.2e6); // the unnamed call goes through "RF"
    EXPECT_EQ(zef::getHWLO(), 14200000);
    EXPECT_EQ(deviceState.loWord.load(), TuningWord(14200000));
    EXPECT_EQ(device.getFrequency(SOAPY_SDR_RX, 0), 14.2e6);
    EXPECT_EQ(device.getFrequency(SOAPY_SDR_RX, 0, "RF"), 14.2e6);
    EXPECT_TRUE(waitForSettingsFrames(before + 1)) << "the change reaches the device";
    // Kept: GQRX limits tuning with the range, CubicSDR reads the rate list.
    const auto range = device.getFrequencyRange(SOAPY_SDR_RX, 0);
    ASSERT_EQ(range.size(), 1U);
    EXPECT_EQ(range[0].maximum(), 100e6);
}

TEST_F(SoapyInstrument, TuneAndModeSettingsComputeTheTuneWord) {
    SoapySDR::Device& device = open();
    const auto info = device.getSettingInfo();
    ASSERT_EQ(info.size(), 2U);
    EXPECT_EQ(info[0].key, "tune");
    EXPECT_EQ(info[1].key, "mode");
    EXPECT_EQ(info[1].options.size(), 7U);
    // The default and every value read back are values the setting takes.
    EXPECT_EQ(device.readSetting("mode"), "none");
    EXPECT_EQ(info[1].value, "none");
    EXPECT_EQ(device.readSetting("tune"), info[0].value);
    for (const std::string& option : info[1].options) {
        device.writeSetting("mode", option);
        EXPECT_EQ(device.readSetting("mode"), option);
    }
    EXPECT_EQ(deviceState.modeCode.load(), ModeCode('E'));
    device.writeSetting("mode", "none");
    EXPECT_EQ(deviceState.modeCode.load(), 0);

    device.writeSetting("mode", "U");
    device.writeSetting("tune", "7050000");
    EXPECT_EQ(deviceState.tuneWord.load(), 151434469) << "7051717 Hz with the USB offset";
    EXPECT_EQ(device.readSetting("mode"), "U");
    EXPECT_EQ(device.readSetting("tune"), "7050000");
    device.writeSetting("mode", "L");
    EXPECT_EQ(deviceState.tuneWord.load(), 151360725) << "recomputed for LSB";
    device.writeSetting("tune", "7.0501e6");
    EXPECT_EQ(device.readSetting("tune"), "7050100");
}

} // namespace
} // namespace zef::test

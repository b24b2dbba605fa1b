// Discovery, opening and the non-streaming controls of the "zef" driver.
#include "soapy_fixture.h"

#include "ZefDevice.hpp"
#include "plugin/entry_points.h"
#include "plugin/tuning.h"

#include <SoapySDR/Formats.hpp>

#include <chrono>
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

TEST(SoapyOpen, ForeignCableAloneIsNeverOpened) {
    zefsim_reset();
    zefsim_add_device("FT232R USB UART", 0x1001, 0, 0);
    EXPECT_THROW(zef::soapy::ZefDevice device({}), std::runtime_error);
    EXPECT_EQ(simCounters().opens, 0U);
    EXPECT_EQ(simCounters().bitbang_bytes, 0U);
}

TEST(SoapyOpen, DeviceThatNeverComesUpFailsClearlyAndCanBeRetried) {
    zefsim_reset();
    zefsim_add_device("ZEF418", kLocation, 0, 0);
    zefsim_set_fault(ZEFSIM_NEVER_READY, 1);
    try {
        zef::soapy::ZefDevice device(SoapySDR::Kwargs{{"ready_timeout", "0.5"}});
        FAIL() << "make succeeded without the ready status";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("did not report ready"), std::string::npos)
            << error.what();
    }
    zefsim_set_fault(ZEFSIM_NEVER_READY, 0);
    zef::soapy::ZefDevice device({});
    EXPECT_TRUE(deviceState.deviceReady.load());
}

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
    EXPECT_THROW(zef::soapy::ZefDevice second({}), std::runtime_error);
    SoapySDR::Device::unmake(device_);
    device_ = nullptr;
    open(); // closed devices free the slot
}

TEST_F(SoapyInstrument, SampleRateIsFixed) {
    SoapySDR::Device& device = open();
    EXPECT_EQ(device.listSampleRates(SOAPY_SDR_RX, 0), std::vector<double>{65104.0});
    const auto ranges = device.getSampleRateRange(SOAPY_SDR_RX, 0);
    ASSERT_EQ(ranges.size(), 1U);
    EXPECT_EQ(ranges[0].minimum(), 65104.0);
    EXPECT_EQ(ranges[0].maximum(), 65104.0);
    EXPECT_NO_THROW(device.setSampleRate(SOAPY_SDR_RX, 0, 65104.0));
    EXPECT_THROW(device.setSampleRate(SOAPY_SDR_RX, 0, 2.048e6), std::invalid_argument);
    EXPECT_EQ(device.getSampleRate(SOAPY_SDR_RX, 0), 65104.0);
    double fullScale = 0;
    EXPECT_EQ(device.getNativeStreamFormat(SOAPY_SDR_RX, 0, fullScale), SOAPY_SDR_CS16);
    EXPECT_EQ(fullScale, 32768.0);
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

    EXPECT_THROW(device.setFrequency(SOAPY_SDR_RX, 0, "BB", 1e6), std::invalid_argument);
    EXPECT_THROW(device.setFrequency(SOAPY_SDR_RX, 0, "RF", 150e6), std::out_of_range);
    EXPECT_THROW(device.setFrequency(SOAPY_SDR_RX, 0, "RF", -1.0), std::out_of_range);
    EXPECT_EQ(zef::getHWLO(), 14200000) << "a refused value changes nothing";
}

TEST_F(SoapyInstrument, TuneAndModeSettingsComputeTheTuneWord) {
    SoapySDR::Device& device = open();
    const auto info = device.getSettingInfo();
    ASSERT_EQ(info.size(), 2U);
    EXPECT_EQ(info[0].key, "tune");
    EXPECT_EQ(info[1].key, "mode");
    EXPECT_EQ(info[1].options.size(), 7U);

    device.writeSetting("mode", "U");
    device.writeSetting("tune", "7050000");
    EXPECT_EQ(deviceState.tuneWord.load(), 151434469) << "7051717 Hz with the USB offset";
    EXPECT_EQ(device.readSetting("mode"), "U");
    EXPECT_EQ(device.readSetting("tune"), "7050000");
    device.writeSetting("mode", "L");
    EXPECT_EQ(deviceState.tuneWord.load(), 151360725) << "recomputed for LSB";

    EXPECT_THROW(device.writeSetting("mode", "u"), std::invalid_argument);
    EXPECT_THROW(device.writeSetting("mode", "UL"), std::invalid_argument);
    EXPECT_THROW(device.writeSetting("tune", "7 MHz"), std::invalid_argument);
    EXPECT_THROW(device.writeSetting("volume", "3"), std::invalid_argument);
    EXPECT_EQ(device.readSetting("mode"), "L");
}

} // namespace
} // namespace zef::test

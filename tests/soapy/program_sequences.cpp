#include "program_sequences.h"

#include <SoapySDR/Formats.hpp>

#include <algorithm>

namespace zef::test {

namespace {

const SoapySDR::Kwargs kFound = {{"driver", "zef"},
                                 {"label", "ZEF418 @ 0x2101"},
                                 {"description", "ZEF418"},
                                 {"location", "0x2101"}};

// CubicSDR 0.2.7: SDREnumerator::enumerate_devices, SDRDevicesDialog::
// refreshDeviceProperties and OnUseSelected, CubicSDR::setDevice,
// SDRThread::init, updateSettings, readStream and deinit, and
// AppFrame::handleUpdateDeviceParams. Its SDR thread applies what the window
// asks between reads; init catches only around setupStream, and the read
// loop catches everything but then ends the stream without a word.
void cubicUpdateSettings(Session& s) {
    const double wanted = s.wanted.exchange(0);
    if (wanted != 0) {
        s.device->setFrequency(SOAPY_SDR_RX, 0, "RF", std::max(wanted, 65104.0 / 2));
    }
}

} // namespace

const Program kCubicSdr{
    "CubicSDR",
    "CubicSDR 0.2.7",
    [](Session& s) {
        SoapySDR::Device* listed = SoapySDR::Device::make(kFound);
        (void)listed->getHardwareInfo();
        (void)listed->getSettingInfo();
        SoapySDR::Device::unmake(listed);
        SoapySDR::Kwargs args = kFound; // with the settings its configuration saved
        args["tune"] = "0";
        args["mode"] = "none";
        s.make(args);
        SoapySDR::Device& d = *s.device;
        for (const auto& setting : d.getSettingInfo()) {
            (void)d.readSetting(setting.key);
        }
        (void)d.getStreamArgsInfo(SOAPY_SDR_RX, 0);
        const std::vector<double> rates = d.listSampleRates(SOAPY_SDR_RX, 0);
        const double rate = rates.front();     // getSampleRateNear(2.5 MHz) of one rate
        (void)d.listAntennas(SOAPY_SDR_RX, 0); // one antenna: it stores ""
        SoapySDR::Stream* stream = nullptr;
        try {
            stream = d.setupStream(SOAPY_SDR_RX, "CF32", {}, {{"buffers", "128"}});
        } catch (const std::exception&) {
        }
        ASSERT_NE(stream, nullptr) << "Stream setup failed";
        s.stream = stream;
        d.setSampleRate(SOAPY_SDR_RX, 0, rate);
        d.setFrequency(SOAPY_SDR_RX, 0, "RF", s.frequency);
        if (!d.hasFrequencyCorrection(SOAPY_SDR_RX, 0)) {
            (void)d.listFrequencies(SOAPY_SDR_RX, 0); // hasCORR
        }
        if (d.hasDCOffsetMode(SOAPY_SDR_RX, 0)) {
            d.setDCOffsetMode(SOAPY_SDR_RX, 0, true);
        }
        (void)d.hasGainMode(SOAPY_SDR_RX, 0);
        d.writeSetting("tune", "0");
        d.writeSetting("mode", "none");
        // updateSettings with the antenna and the rate changed
        d.setAntenna(SOAPY_SDR_RX, 0, "");
        d.deactivateStream(s.stream);
        try {
            d.setSampleRate(SOAPY_SDR_RX, 0, rate);
        } catch (...) {
        }
        (void)d.getDriverKey();
        d.activateStream(s.stream);
        EXPECT_EQ(d.getSampleRate(SOAPY_SDR_RX, 0), rate);
        EXPECT_EQ(d.getStreamMTU(s.stream), 512U);
        d.setFrequency(SOAPY_SDR_RX, 0, "RF", s.frequency);
        (void)d.listGains(SOAPY_SDR_RX, 0); // updateGains
        // handleUpdateDeviceParams, on the window's idle
        (void)d.listGains(SOAPY_SDR_RX, 0);
        (void)d.listAntennas(SOAPY_SDR_RX, 0);
        (void)d.listAntennas(SOAPY_SDR_TX, 0);
        for (const auto& setting : d.getSettingInfo()) {
            (void)d.readSetting(setting.key);
        }
    },
    [](Session& s) { // 1/60 s of samples in MTU reads of 2^30 us; a failed read ends the pass
        cubicUpdateSettings(s);
        int total = 0;
        while (total < 1085) {
            const int got = s.read(512, 1L << 30);
            if (got <= 0) {
                return total > 0 ? total : got;
            }
            total += got;
        }
        return total;
    },
    [](Session& s, double hz) { s.wanted.store(hz); },
    [](Session& s, Reader& reader) {
        reader.join(); // terminate(): the loop ends after its read
        s.device->deactivateStream(s.stream);
        s.device->closeStream(s.stream);
        SoapySDR::Device::unmake(s.device);
    }};

// SDR++ 1.0.4, source_modules/soapy_source/src/main.cpp: refresh,
// selectDevice, selectSampleRate, start, tune, stop and _worker. Nothing is
// caught; stop deactivates and closes while the worker may be reading, and
// joins it afterwards.
const Program kSdrPlusPlus{
    "SDRPlusPlus",
    "SDR++ 1.0.4",
    [](Session& s) {
        // It enumerates with no arguments; here only this module's find runs
        // (another module's could look at the network).
        SoapySDR::KwargsList found = SoapySDR::Device::enumerate("driver=zef");
        ASSERT_EQ(found.size(), 1U);
        SoapySDR::Device* chosen = SoapySDR::Device::make(found[0]);
        const std::vector<std::string> antennas = chosen->listAntennas(SOAPY_SDR_RX, 0);
        for (const std::string& gain : chosen->listGains(SOAPY_SDR_RX, 0)) {
            (void)chosen->getGainRange(SOAPY_SDR_RX, 0, gain);
        }
        const SoapySDR::RangeList bandwidths = chosen->getBandwidthRange(SOAPY_SDR_RX, 0);
        const std::vector<double> rates = chosen->listSampleRates(SOAPY_SDR_RX, 0);
        const bool agc = chosen->hasGainMode(SOAPY_SDR_RX, 0);
        SoapySDR::Device::unmake(chosen);
        ASSERT_FALSE(antennas.empty()); // it indexes the list
        ASSERT_FALSE(rates.empty());
        s.make(found[0]);
        SoapySDR::Device& d = *s.device;
        d.setSampleRate(SOAPY_SDR_RX, 0, rates[0]);
        d.setAntenna(SOAPY_SDR_RX, 0, antennas[0]);
        if (bandwidths.size() + 1 > 2) {
            d.setBandwidth(SOAPY_SDR_RX, 0, bandwidths[0].minimum());
        }
        if (agc) {
            d.setGainMode(SOAPY_SDR_RX, 0, false);
        }
        d.setFrequency(SOAPY_SDR_RX, 0, s.frequency);
        s.stream = d.setupStream(SOAPY_SDR_RX, "CF32");
        d.activateStream(s.stream);
    },
    [](Session& s) { return s.read(static_cast<size_t>(65104 / 200.0F), 100000); },
    [](Session& s, double hz) { s.device->setFrequency(SOAPY_SDR_RX, 0, hz); },
    [](Session& s, Reader& reader) {
        reader.halt();
        s.device->deactivateStream(s.stream);
        s.device->closeStream(s.stream);
        reader.join();
        SoapySDR::Device::unmake(s.device);
    }};

// GQRX 2.15.9 (src/applications/gqrx: MainWindow::loadConfig, receiver::
// set_input_device, set_input_rate, set_analog_bandwidth, set_rf_freq)
// through gr-osmosdr 0.2.4 (lib/source_impl.cc, lib/soapy/soapy_source_c.cc).
// GQRX catches std::runtime_error around the rate alone; a bookmark or
// "ignore hardware limits" tunes past the range.
const Program kGqrx{"GQRX",
                    "GQRX 2.15 through gr-osmosdr 0.2.4",
                    [](Session& s) {
                        s.make({{"soapy", "0"}, {"driver", "zef"}}); // soapy_source_c
                        SoapySDR::Device& d = *s.device;
                        s.stream = d.setupStream(SOAPY_SDR_RX, "CF32", {0});
                        (void)d.getGainMode(SOAPY_SDR_RX, 0); // source_impl
                        (void)d.getGain(SOAPY_SDR_RX, 0);
                        (void)d.getSampleRate(SOAPY_SDR_RX, 0);
                        (void)d.listAntennas(SOAPY_SDR_RX, 0);
                        (void)d.listGains(SOAPY_SDR_RX, 0); // updateGainStages
                        try { // the rate another device left in its configuration
                            d.setSampleRate(SOAPY_SDR_RX, 0, 2.4e6);
                        } catch (std::runtime_error&) {
                        }
                        EXPECT_EQ(d.getSampleRate(SOAPY_SDR_RX, 0), 65104.0)
                            << "GQRX takes this rate";
                        d.setBandwidth(SOAPY_SDR_RX, 0, d.getSampleRate(SOAPY_SDR_RX, 0) * 0.75);
                        (void)d.getBandwidth(SOAPY_SDR_RX, 0);
                        d.setBandwidth(SOAPY_SDR_RX, 0, 0.0);
                        (void)d.getBandwidth(SOAPY_SDR_RX, 0);
                        d.setFrequencyCorrection(SOAPY_SDR_RX, 0, 0.0);
                        (void)d.getFrequencyCorrection(SOAPY_SDR_RX, 0);
                        d.setAntenna(SOAPY_SDR_RX, 0, "RX");
                        (void)d.getAntenna(SOAPY_SDR_RX, 0);
                        const SoapySDR::RangeList range = d.getFrequencyRange(SOAPY_SDR_RX, 0);
                        ASSERT_FALSE(range.empty()) << "GQRX limits tuning with it";
                        d.setGainMode(SOAPY_SDR_RX, 0, false);
                        (void)d.getGainMode(SOAPY_SDR_RX, 0);
                        d.setFrequency(SOAPY_SDR_RX, 0, s.frequency);
                        (void)d.getFrequency(SOAPY_SDR_RX, 0);
                        EXPECT_EQ(d.activateStream(s.stream), 0); // start()
                    },
                    [](Session& s) { // work(): one retry on an overflow, an error is "call again"
                        int got = 0;
                        int retries = 1;
                        do {
                            got = s.read(4096, 100000);
                        } while (retries-- && got == SOAPY_SDR_OVERFLOW);
                        return got;
                    },
                    [](Session& s, double hz) {
                        s.device->setFrequency(SOAPY_SDR_RX, 0, hz);
                        (void)s.device->getFrequency(SOAPY_SDR_RX, 0);
                    },
                    [](Session& s, Reader& reader) {
                        reader.join(); // the block's thread leaves work() first
                        s.device->deactivateStream(s.stream);
                        s.device->closeStream(s.stream); // ~soapy_source_c
                        SoapySDR::Device::unmake(s.device);
                    }};

// GNU Radio 3.10.5, gr-soapy: soapy_custom_source.block.yml's make with its
// defaults (antenna RX, bandwidth 0, gain 10, AGC off, DC removal on, DC
// offset and IQ balance 0), block_impl.cc and source_impl.cc. The flow
// graph's samp_rate must be 65104: gr-soapy itself refuses a rate outside
// getSampleRateRange.
const Program kGnuRadio{
    "GnuRadio",
    "GNU Radio 3.10 soapy.source",
    [](Session& s) {
        s.make(SoapySDR::KwargsFromString("driver=zef, "));
        SoapySDR::Device& d = *s.device;
        (void)d.getSettingInfo();
        ASSERT_GE(d.getNumChannels(SOAPY_SDR_RX), 1U);
        (void)d.getStreamArgsInfo(SOAPY_SDR_RX, 0);
        (void)d.getFrequencyArgsInfo(SOAPY_SDR_RX, 0);
        (void)d.getSettingInfo(SOAPY_SDR_RX, 0);
        (void)d.listGains(SOAPY_SDR_RX, 0);
        (void)d.hasHardwareTime("");
        const SoapySDR::RangeList rates = d.getSampleRateRange(SOAPY_SDR_RX, 0);
        ASSERT_TRUE(std::any_of(rates.begin(), rates.end(), [](const SoapySDR::Range& r) {
            return r.minimum() <= 65104 && 65104 <= r.maximum();
        }));
        d.setSampleRate(SOAPY_SDR_RX, 0, 65104);
        d.setBandwidth(SOAPY_SDR_RX, 0, 0);
        const std::vector<std::string> antennas = d.listAntennas(SOAPY_SDR_RX, 0);
        ASSERT_NE(std::find(antennas.begin(), antennas.end(), "RX"), antennas.end());
        d.setAntenna(SOAPY_SDR_RX, 0, "RX");
        d.setFrequency(SOAPY_SDR_RX, 0, s.frequency, {});
        ASSERT_FALSE(d.hasFrequencyCorrection(SOAPY_SDR_RX, 0)); // 0 is then skipped
        d.setGainMode(SOAPY_SDR_RX, 0, false);                   // allowed without AGC when off
        (void)d.getGainRange(SOAPY_SDR_RX, 0); // gain 10 beyond it: logged, not set
        // "DC removal" True: gr-soapy throws unless the device has the mode.
        ASSERT_TRUE(d.hasDCOffsetMode(SOAPY_SDR_RX, 0));
        d.setDCOffsetMode(SOAPY_SDR_RX, 0, true);
        (void)d.hasDCOffset(SOAPY_SDR_RX, 0);
        (void)d.hasIQBalance(SOAPY_SDR_RX, 0);
        // start()
        s.stream = d.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {0}, {});
        (void)d.getStreamMTU(s.stream);
        d.activateStream(s.stream);
    },
    [](Session& s) { // general_work: under the device lock, again on an overflow
        std::lock_guard<std::mutex> guard(s.deviceLock);
        int got = 0;
        while ((got = s.read(512, 500000)) == SOAPY_SDR_OVERFLOW) {
        }
        if (got >= 0) {
            (void)s.device->getSampleRate(SOAPY_SDR_RX, 0);
            (void)s.device->getFrequency(SOAPY_SDR_RX, 0);
        }
        return got;
    },
    [](Session& s, double hz) { s.device->setFrequency(SOAPY_SDR_RX, 0, hz, {}); },
    [](Session& s, Reader& reader) {
        reader.join();
        std::lock_guard<std::mutex> guard(s.deviceLock); // stop()
        s.device->deactivateStream(s.stream);
        s.device->closeStream(s.stream);
        SoapySDR::Device::unmake(s.device);
    }};

// SoapyRemote 0.5.2's server, as the instrument's computer runs it
// (server/ClientHandler.cpp, server/ServerStreamData.cpp): each request of
// the client arrives on its own thread; the stream's thread reads with 100 ms
// and fills up without waiting. The server passes any exception back to the
// client (a RemoteError there), so the client's program meets what the
// module throws.
const Program kSoapyRemoteServer{
    "SoapyRemoteServer",
    "SoapyRemote 0.5.2 server",
    [](Session& s) {
        s.make({{"driver", "zef"}});
        SoapySDR::Device& d = *s.device;
        double fullScale = 0;
        (void)d.getNativeStreamFormat(SOAPY_SDR_RX, 0, fullScale);
        (void)d.getSampleRate(SOAPY_SDR_RX, 0);
        d.setFrequency(SOAPY_SDR_RX, 0, s.frequency); // as the client's program tunes
        s.stream = d.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {});
        (void)d.getStreamMTU(s.stream);
        d.activateStream(s.stream);
    },
    [](Session& s) { // recvEndpointWork: after a time-out it reads again at once
        int got = s.read(512, 100000);
        if (got > 0) {
            const int more = s.read(1024, 0);
            got += more > 0 ? more : 0;
        }
        return got;
    },
    [](Session& s, double hz) { s.device->setFrequency(SOAPY_SDR_RX, 0, hz); },
    [](Session& s, Reader& reader) {
        s.device->deactivateStream(s.stream); // the client's request
        reader.join();                        // closeStream: the thread ends first
        s.device->closeStream(s.stream);
        SoapySDR::Device::unmake(s.device); // the client leaves
    }};

// SoapySDRUtil 0.8.1 --probe (apps/SoapySDRProbe.cpp): everything it asks of
// the device and of its one receive channel. It streams nothing.
void probe(SoapySDR::Device& d) {
    (void)d.getDriverKey();
    (void)d.getHardwareKey();
    (void)d.getHardwareInfo();
    ASSERT_EQ(d.getNumChannels(SOAPY_SDR_RX), 1U);
    ASSERT_EQ(d.getNumChannels(SOAPY_SDR_TX), 0U);
    (void)d.hasHardwareTime();
    (void)d.listClockSources();
    (void)d.listTimeSources();
    (void)d.listSensors();
    (void)d.listRegisterInterfaces();
    (void)d.getSettingInfo();
    (void)d.listGPIOBanks();
    (void)d.listUARTs();
    (void)d.getChannelInfo(SOAPY_SDR_RX, 0);
    (void)d.getFullDuplex(SOAPY_SDR_RX, 0);
    (void)d.hasGainMode(SOAPY_SDR_RX, 0);
    (void)d.getStreamFormats(SOAPY_SDR_RX, 0);
    double fullScale = 0;
    (void)d.getNativeStreamFormat(SOAPY_SDR_RX, 0, fullScale);
    (void)d.getStreamArgsInfo(SOAPY_SDR_RX, 0);
    (void)d.listAntennas(SOAPY_SDR_RX, 0);
    (void)d.hasDCOffsetMode(SOAPY_SDR_RX, 0);
    (void)d.hasDCOffset(SOAPY_SDR_RX, 0);
    (void)d.hasIQBalance(SOAPY_SDR_RX, 0);
    (void)d.hasFrequencyCorrection(SOAPY_SDR_RX, 0);
    (void)d.getGainRange(SOAPY_SDR_RX, 0);
    (void)d.listGains(SOAPY_SDR_RX, 0);
    (void)d.getFrequencyRange(SOAPY_SDR_RX, 0);
    for (const std::string& name : d.listFrequencies(SOAPY_SDR_RX, 0)) {
        (void)d.getFrequencyRange(SOAPY_SDR_RX, 0, name);
    }
    (void)d.getFrequencyArgsInfo(SOAPY_SDR_RX, 0);
    (void)d.getSampleRateRange(SOAPY_SDR_RX, 0);
    (void)d.getBandwidthRange(SOAPY_SDR_RX, 0);
    (void)d.listSensors(SOAPY_SDR_RX, 0);
    (void)d.getSettingInfo(SOAPY_SDR_RX, 0);
}

const Program kProbe{"SoapySDRUtilProbe",
                     "SoapySDRUtil 0.8.1 --probe",
                     [](Session& s) {
                         s.make({{"driver", "zef"}});
                         probe(*s.device);
                     },
                     nullptr,
                     nullptr,
                     [](Session& s, Reader& /*reader*/) { SoapySDR::Device::unmake(s.device); }};

} // namespace zef::test

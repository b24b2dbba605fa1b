// The ZEF418 as a SoapySDR device: one receive channel at a fixed 65104 S/s,
// native CS16 (full scale 32768) or CF32, one tunable "RF" component (the
// local oscillator) and the device settings "tune" and "mode".
//
// The module drives the instrument through the same core functions as the
// ExtIO plug-in (zef::initHW, startHW, ...). Their state is process-wide and
// their sample callback carries no user pointer, so one device per process
// is supported: a second make while one is open throws.
#pragma once

#include <SoapySDR/Device.hpp>

#include <chrono>
#include <string>
#include <vector>

namespace zef::soapy {

inline constexpr const char* kDriverKey = "zef";
inline constexpr double kSampleRate = 65104.0;
inline constexpr std::size_t kStreamMtu = 512;
inline constexpr double kFullScale = 32768.0;
// The synthesiser's 200 MHz clock leaves 0 to 100 MHz for the local oscillator.
inline constexpr double kMinFrequency = 0.0;
inline constexpr double kMaxFrequency = 100e6;
// Covers the FPGA image load over the bit-bang port and the ready status.
inline constexpr std::chrono::milliseconds kDefaultReadyTimeout{10000};

// Instruments the driver lists, without opening any (SoapySDR's find).
SoapySDR::KwargsList findInstruments(const SoapySDR::Kwargs& args);

// Detaches a stream that the application never closed (device teardown).
void detachStream();

class ZefDevice : public SoapySDR::Device {
  public:
    // Opens the first instrument, configures its FPGA and waits for its
    // ready status; throws std::runtime_error when it never comes up.
    explicit ZefDevice(const SoapySDR::Kwargs& args);
    ~ZefDevice() override;
    ZefDevice(const ZefDevice&) = delete;
    ZefDevice& operator=(const ZefDevice&) = delete;

    // Identification
    std::string getDriverKey() const override;
    std::string getHardwareKey() const override;
    SoapySDR::Kwargs getHardwareInfo() const override;
    size_t getNumChannels(int direction) const override;
    bool getFullDuplex(int direction, size_t channel) const override;

    // Streaming (Streaming.cpp)
    std::vector<std::string> getStreamFormats(int direction, size_t channel) const override;
    std::string getNativeStreamFormat(int direction, size_t channel,
                                      double& fullScale) const override;
    SoapySDR::ArgInfoList getStreamArgsInfo(int direction, size_t channel) const override;
    SoapySDR::Stream* setupStream(int direction, const std::string& format,
                                  const std::vector<size_t>& channels,
                                  const SoapySDR::Kwargs& args) override;
    void closeStream(SoapySDR::Stream* stream) override;
    size_t getStreamMTU(SoapySDR::Stream* stream) const override;
    int activateStream(SoapySDR::Stream* stream, int flags, long long timeNs,
                       size_t numElems) override;
    int deactivateStream(SoapySDR::Stream* stream, int flags, long long timeNs) override;
    int readStream(SoapySDR::Stream* stream, void* const* buffs, size_t numElems, int& flags,
                   long long& timeNs, long timeoutUs) override;

    // Antenna
    std::vector<std::string> listAntennas(int direction, size_t channel) const override;
    void setAntenna(int direction, size_t channel, const std::string& name) override;
    std::string getAntenna(int direction, size_t channel) const override;

    // Frequency: "RF" is the local oscillator, set as SetHWLO sets it.
    std::vector<std::string> listFrequencies(int direction, size_t channel) const override;
    void setFrequency(int direction, size_t channel, const std::string& name, double frequency,
                      const SoapySDR::Kwargs& args) override;
    double getFrequency(int direction, size_t channel, const std::string& name) const override;
    SoapySDR::RangeList getFrequencyRange(int direction, size_t channel,
                                          const std::string& name) const override;

    // Sample rate: fixed.
    void setSampleRate(int direction, size_t channel, double rate) override;
    double getSampleRate(int direction, size_t channel) const override;
    std::vector<double> listSampleRates(int direction, size_t channel) const override;
    SoapySDR::RangeList getSampleRateRange(int direction, size_t channel) const override;

    // Settings: "tune" (tuned frequency in Hz) and "mode" (receive-mode letter).
    SoapySDR::ArgInfoList getSettingInfo() const override;
    void writeSetting(const std::string& key, const std::string& value) override;
    std::string readSetting(const std::string& key) const override;

  private:
    SoapySDR::Kwargs identity_; // label, description, location as found
};

} // namespace zef::soapy

// The ZEF418 as a SoapySDR device: one receive channel at a fixed 65104 S/s,
// native CS16 (full scale 32768) or CF32, one tunable "RF" component (the
// local oscillator) and the device settings "tune" and "mode".
//
// The module drives the instrument through the core's front-end contract
// (zef/instrument.h) alone. The core's state is process-wide, so one device
// per process is supported: a second make while one is open throws.
#pragma once

#include "DeviceArgs.hpp"
#include "zef/instrument.h"

#include <SoapySDR/Device.hpp>

#include <SoapySDR/Logger.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zef::soapy {

inline constexpr const char* kDriverKey = "zef";
inline constexpr auto kStreamRate = static_cast<double>(zef::kSampleRate);
inline constexpr std::size_t kStreamMtu = kBlockPairs;
inline constexpr double kFullScale = 32768.0;
// The longest a read waits on a stream that cannot deliver: inactive, or its
// instrument away. Long enough that programs which read again at once do
// not spin, short enough that none freezes (CubicSDR waits 2^30 us).
inline constexpr std::chrono::milliseconds kIdleWait{100};
// The synthesiser's 200 MHz clock leaves 0 to 100 MHz for the local oscillator.
inline constexpr double kMinFrequency = 0.0;
inline constexpr double kMaxFrequency = 100e6;

// Instruments the driver lists, without opening any (SoapySDR's find).
SoapySDR::KwargsList findInstruments(const SoapySDR::Kwargs& args);

// The stream's side of the core's block handler (Streaming.cpp).
void onBlock(const std::int16_t* pairs);
// Detaches a stream that the application never closed (device teardown).
void detachStream();

class ZefDevice : public SoapySDR::Device {
  public:
    // Opens the first instrument (or the one at args "location"), loads its
    // gateware and waits for its ready status; throws std::runtime_error,
    // with a one-line message that says what to do, when it never comes up.
    explicit ZefDevice(const SoapySDR::Kwargs& args);
    ~ZefDevice() override;
    ZefDevice(const ZefDevice&) = delete;
    ZefDevice& operator=(const ZefDevice&) = delete;

    // Identification (Opening.cpp)
    std::string getDriverKey() const override;
    std::string getHardwareKey() const override;
    SoapySDR::Kwargs getHardwareInfo() const override;
    size_t getNumChannels(int direction) const override;
    bool getFullDuplex(int direction, size_t channel) const override;

    // Streaming (Streaming.cpp). setupStream throws for what the instrument
    // cannot give (transmit, a channel other than 0, a format other than
    // CS16 and CF32, a second stream); nothing else here throws. readStream
    // stamps every read with the time of its first sample, counted from
    // activation (SOAPY_SDR_HAS_TIME). On an inactive stream it returns
    // SOAPY_SDR_TIMEOUT within kIdleWait, and at once when the stream is
    // deactivated or closed while it waits. When the instrument is lost (a
    // pulled cable) it logs one warning and returns SOAPY_SDR_STREAM_ERROR
    // within kIdleWait while the instrument is away, whatever time-out the
    // caller gives; the module reopens it by itself, and samples resume
    // after the replug without the application doing anything.
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

    // Time (Streaming.cpp): the stream's own, the one its stamps count in.
    // It starts at 0 with each activation, goes on with the blocks that
    // arrive, gaps of an outage included, and between two blocks with the
    // clock by at most one block; it never goes back while the stream runs
    // and stands still while it is inactive. The only source is ""; any
    // other (gr-osmosdr asks for "PPS") reads 0, as the base class answers.
    bool hasHardwareTime(const std::string& what) const override;
    long long getHardwareTime(const std::string& what) const override;

    // Settings.cpp. None of these throws: a query for a direction or channel
    // that does not exist answers as SoapySDR's Device base class does, a
    // setter that changes nothing is accepted with one log line at most, and
    // a value the instrument cannot meet is limited to the nearest one it
    // has, logged, and read back as set.
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

    // Automatic DC removal on what readStream returns (DcBlocker.hpp), off
    // until a program turns it on.
    bool hasDCOffsetMode(int direction, size_t channel) const override;
    void setDCOffsetMode(int direction, size_t channel, bool automatic) override;
    bool getDCOffsetMode(int direction, size_t channel) const override;

    // The instrument has neither gain nor bandwidth: accepted and ignored.
    void setGainMode(int direction, size_t channel, bool automatic) override;
    void setGain(int direction, size_t channel, double value) override;
    void setGain(int direction, size_t channel, const std::string& name, double value) override;
    void setBandwidth(int direction, size_t channel, double bandwidth) override;

    // Settings: "tune" (tuned frequency in Hz) and "mode" (receive mode).
    SoapySDR::ArgInfoList getSettingInfo() const override;
    void writeSetting(const std::string& key, const std::string& value) override;
    std::string readSetting(const std::string& key) const override;

  private:
    // Logs `message` at `level` the first time `key` comes; true then.
    bool noteOnce(const std::string& key, SoapySDRLogLevel level, const std::string& message);
    void ignoreChannel(const char* call, int direction, size_t channel);
    void noteNoGain(const char* call, int direction, size_t channel);
    double limitFrequency(double frequency, const char* what);

    SoapySDR::Kwargs identity_; // label, description, location as found
    std::atomic<bool> dcRemoval_{false};
    std::mutex notedLock_;
    std::set<std::string> noted_;
};

} // namespace zef::soapy

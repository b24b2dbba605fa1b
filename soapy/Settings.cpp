// Opening and closing the instrument, and everything that is not streaming:
// identification, antenna, frequency, sample rate and device settings.
#include "ZefDevice.hpp"

#include "plugin/device_state.h"
#include "plugin/entry_points.h"
#include "plugin/tuning.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace zef::soapy {

namespace {

// The core's state is process-wide: one open device at a time.
std::atomic<bool> deviceOpen{false};

constexpr const char* kAntenna = "RX";
constexpr const char* kFrequencyComponent = "RF";

struct ModeOption {
    char letter;
    const char* name;
};
constexpr std::array<ModeOption, 6> kModes{{
    {'C', "CW"},
    {'U', "USB"},
    {'L', "LSB"},
    {'A', "AM"},
    {'F', "FM"},
    {'E', "ECSS"},
}};

void checkChannel(int direction, size_t channel) {
    if (direction != SOAPY_SDR_RX || channel != 0) {
        throw std::invalid_argument("ZEF418: only receive channel 0 exists");
    }
}

// A frequency in Hz within the synthesiser's range, as the core takes it.
std::int32_t toHz(double frequency, const char* what) {
    if (!std::isfinite(frequency) || frequency < kMinFrequency || frequency > kMaxFrequency) {
        throw std::out_of_range(std::string("ZEF418: ") + what + " " + std::to_string(frequency) +
                                " Hz is outside 0 to 100 MHz");
    }
    return static_cast<std::int32_t>(std::llround(frequency));
}

double parseNumber(const std::string& key, const std::string& value) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0') {
        throw std::invalid_argument("ZEF418: setting \"" + key + "\" needs a number, got \"" +
                                    value + "\"");
    }
    return number;
}

std::chrono::milliseconds readyTimeout(const SoapySDR::Kwargs& args) {
    const auto given = args.find("ready_timeout");
    if (given == args.end()) {
        return kDefaultReadyTimeout;
    }
    const double seconds = parseNumber("ready_timeout", given->second);
    if (!(seconds > 0.0 && seconds < 600.0)) {
        throw std::invalid_argument("ZEF418: ready_timeout must be between 0 and 600 seconds");
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

// FPGA configuration runs on the worker; it ends with the ready status or,
// when a write fails, with a driver status that is no longer 0.
bool waitUntilReady(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!deviceState.deviceReady.load()) {
        if (deviceState.driverStatus.load() != 0 || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void openInstrument(const SoapySDR::Kwargs& args, SoapySDR::Kwargs& identity) {
    const std::chrono::milliseconds timeout = readyTimeout(args);
    // The core's open falls back to any FTDI device; never let it.
    const SoapySDR::KwargsList listed = findInstruments(args);
    if (listed.empty()) {
        throw std::runtime_error("ZEF418: no instrument found (is the D2XX library "
                                 "libftd2xx.so installed and the device plugged in?)");
    }
    identity = listed.front();
    char name[64];
    char model[64];
    int type = 0;
    zef::initHW(name, model, &type);
    const std::int32_t status = deviceState.driverStatus.load();
    if (status != 0) {
        throw std::runtime_error("ZEF418: could not open the instrument (driver status " +
                                 std::to_string(status) + ")");
    }
    // The first settings frame carries the default local oscillator's word.
    zef::setHWLO(zef::getHWLO());
    if (!waitUntilReady(timeout)) {
        throw std::runtime_error("ZEF418: the instrument did not report ready within " +
                                 std::to_string(timeout.count()) +
                                 " ms after FPGA configuration (driver status " +
                                 std::to_string(deviceState.driverStatus.load()) + ")");
    }
}

} // namespace

ZefDevice::ZefDevice(const SoapySDR::Kwargs& args) {
    if (deviceOpen.exchange(true)) {
        throw std::runtime_error("ZEF418: one device per process is supported, and one is "
                                 "already open");
    }
    try {
        openInstrument(args, identity_);
    } catch (...) {
        zef::closeHW();
        deviceOpen.store(false);
        throw;
    }
}

ZefDevice::~ZefDevice() {
    zef::stopHW();
    zef::closeHW();
    detachStream();
    deviceOpen.store(false);
}

std::string ZefDevice::getDriverKey() const {
    return kDriverKey;
}

std::string ZefDevice::getHardwareKey() const {
    return "ZEF418";
}

SoapySDR::Kwargs ZefDevice::getHardwareInfo() const {
    SoapySDR::Kwargs info = identity_;
    info.erase("driver");
    info["model"] = std::to_string(deviceState.deviceModel.load());
    info["driver_library"] = deviceState.bridgeLibrary.load() ? "lin_ftd2xx" : "ftd2xx";
    return info;
}

size_t ZefDevice::getNumChannels(int direction) const {
    return direction == SOAPY_SDR_RX ? 1 : 0;
}

bool ZefDevice::getFullDuplex(int /*direction*/, size_t /*channel*/) const {
    return false;
}

std::vector<std::string> ZefDevice::listAntennas(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {kAntenna};
}

void ZefDevice::setAntenna(int direction, size_t channel, const std::string& name) {
    checkChannel(direction, channel);
    if (name != kAntenna) {
        throw std::invalid_argument("ZEF418: the only antenna is \"RX\", not \"" + name + "\"");
    }
}

std::string ZefDevice::getAntenna(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return kAntenna;
}

std::vector<std::string> ZefDevice::listFrequencies(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {kFrequencyComponent};
}

void ZefDevice::setFrequency(int direction, size_t channel, const std::string& name,
                             double frequency, const SoapySDR::Kwargs& /*args*/) {
    checkChannel(direction, channel);
    if (name != kFrequencyComponent) {
        throw std::invalid_argument("ZEF418: unknown frequency component \"" + name + "\"");
    }
    zef::setHWLO(toHz(frequency, "frequency"));
}

double ZefDevice::getFrequency(int direction, size_t channel, const std::string& name) const {
    checkChannel(direction, channel);
    if (name != kFrequencyComponent) {
        throw std::invalid_argument("ZEF418: unknown frequency component \"" + name + "\"");
    }
    return zef::getHWLO();
}

SoapySDR::RangeList ZefDevice::getFrequencyRange(int direction, size_t channel,
                                                 const std::string& name) const {
    checkChannel(direction, channel);
    if (name != kFrequencyComponent) {
        throw std::invalid_argument("ZEF418: unknown frequency component \"" + name + "\"");
    }
    return {SoapySDR::Range(kMinFrequency, kMaxFrequency)};
}

void ZefDevice::setSampleRate(int direction, size_t channel, double rate) {
    checkChannel(direction, channel);
    if (!(std::abs(rate - kSampleRate) < 0.5)) {
        throw std::invalid_argument("ZEF418: the sample rate is fixed at 65104 S/s, " +
                                    std::to_string(rate) + " is not available");
    }
}

double ZefDevice::getSampleRate(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return kSampleRate;
}

std::vector<double> ZefDevice::listSampleRates(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {kSampleRate};
}

SoapySDR::RangeList ZefDevice::getSampleRateRange(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {SoapySDR::Range(kSampleRate, kSampleRate)};
}

SoapySDR::ArgInfoList ZefDevice::getSettingInfo() const {
    SoapySDR::ArgInfo tune;
    tune.key = "tune";
    tune.name = "Tuned frequency";
    tune.description = "Frequency the receiver is tuned to within the band";
    tune.type = SoapySDR::ArgInfo::INT;
    tune.units = "Hz";
    tune.value = "0";
    tune.range = SoapySDR::Range(kMinFrequency, kMaxFrequency);

    SoapySDR::ArgInfo mode;
    mode.key = "mode";
    mode.name = "Receive mode";
    mode.description = "Mode letter; USB and LSB shift the tuned frequency by 1717 Hz";
    mode.type = SoapySDR::ArgInfo::STRING;
    mode.value = "";
    for (const ModeOption& option : kModes) {
        mode.options.emplace_back(1, option.letter);
        mode.optionNames.emplace_back(option.name);
    }
    return {tune, mode};
}

void ZefDevice::writeSetting(const std::string& key, const std::string& value) {
    if (key == "tune") {
        zef::tuneChanged(toHz(parseNumber(key, value), "tuned frequency"));
        return;
    }
    if (key == "mode") {
        for (const ModeOption& option : kModes) {
            if (value.size() == 1 && value[0] == option.letter) {
                zef::modeChanged(option.letter);
                return;
            }
        }
        throw std::invalid_argument("ZEF418: mode must be one of C, U, L, A, F, E; got \"" + value +
                                    "\"");
    }
    throw std::invalid_argument("ZEF418: unknown setting \"" + key + "\"");
}

std::string ZefDevice::readSetting(const std::string& key) const {
    if (key == "tune") {
        return std::to_string(deviceState.tuneFrequency.load());
    }
    if (key == "mode") {
        for (const ModeOption& option : kModes) {
            if (ModeCode(option.letter) == deviceState.modeCode.load()) {
                return std::string(1, option.letter);
            }
        }
        return "";
    }
    return SoapySDR::Device::readSetting(key);
}

} // namespace zef::soapy

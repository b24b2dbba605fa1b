// Everything that is neither opening nor streaming: antenna, frequency,
// sample rate, the gain and bandwidth the instrument lacks, and the device
// settings.
#include "ZefDevice.hpp"

#include <SoapySDR/Logger.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace zef::soapy {

namespace {

constexpr const char* kAntenna = "RX";
constexpr const char* kFrequencyComponent = "RF";

// Mode code 0 (no mode, no offset) reads back as "none", which is also the
// default before any mode is written.
constexpr const char* kNoMode = "none";

struct ModeOption {
    char letter; // '\0': mode code 0
    const char* value;
    const char* name;
};
constexpr std::array<ModeOption, 7> kModes{{
    {'\0', kNoMode, "None (code 0, no offset)"},
    {'C', "C", "CW"},
    {'U', "U", "USB"},
    {'L', "L", "LSB"},
    {'A', "A", "AM"},
    {'F', "F", "FM"},
    {'E', "E", "ECSS"},
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

} // namespace

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
    instrument::setLocalOscillator(toHz(frequency, "frequency"));
}

double ZefDevice::getFrequency(int direction, size_t channel, const std::string& name) const {
    checkChannel(direction, channel);
    if (name != kFrequencyComponent) {
        throw std::invalid_argument("ZEF418: unknown frequency component \"" + name + "\"");
    }
    return instrument::state().localOscillator;
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
    if (!(std::abs(rate - kStreamRate) < 0.5)) {
        throw std::invalid_argument("ZEF418: the sample rate is fixed at 65104 S/s, " +
                                    std::to_string(rate) + " is not available");
    }
}

double ZefDevice::getSampleRate(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return kStreamRate;
}

std::vector<double> ZefDevice::listSampleRates(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {kStreamRate};
}

SoapySDR::RangeList ZefDevice::getSampleRateRange(int direction, size_t channel) const {
    checkChannel(direction, channel);
    return {SoapySDR::Range(kStreamRate, kStreamRate)};
}

// Programs set a gain and a bandwidth as a matter of course; refusing them
// would stop the program, so they are accepted, and the debug log says once
// that they change nothing.
void ZefDevice::noteIgnoredCall() {
    if (!ignoredCallNoted_.exchange(true)) {
        SoapySDR::log(SOAPY_SDR_DEBUG, "ZEF418: the instrument has no gain and no bandwidth to "
                                       "set; gain and bandwidth calls are accepted and ignored");
    }
}

void ZefDevice::setGainMode(int direction, size_t channel, bool /*automatic*/) {
    checkChannel(direction, channel);
    noteIgnoredCall();
}

void ZefDevice::setGain(int direction, size_t channel, double /*value*/) {
    checkChannel(direction, channel);
    noteIgnoredCall();
}

void ZefDevice::setGain(int direction, size_t channel, const std::string& /*name*/,
                        double /*value*/) {
    checkChannel(direction, channel);
    noteIgnoredCall();
}

void ZefDevice::setBandwidth(int direction, size_t channel, double /*bandwidth*/) {
    checkChannel(direction, channel);
    noteIgnoredCall();
}

SoapySDR::ArgInfoList ZefDevice::getSettingInfo() const {
    SoapySDR::ArgInfo tune;
    tune.key = "tune";
    tune.name = "Tuned frequency";
    tune.description = "The tuned frequency that the settings frame carries to the instrument "
                       "(with the mode's offset in its tuning word). It does not move the I/Q "
                       "stream: where a carrier lies in it depends on the RF frequency (the "
                       "local oscillator) alone.";
    tune.type = SoapySDR::ArgInfo::INT;
    tune.units = "Hz";
    tune.value = "0";
    tune.range = SoapySDR::Range(kMinFrequency, kMaxFrequency);

    SoapySDR::ArgInfo mode;
    mode.key = "mode";
    mode.name = "Receive mode";
    mode.description = "The receive mode that the settings frame carries to the instrument (U "
                       "and L also shift its tuned word by +1717 and -1717 Hz). It does not move "
                       "the I/Q stream.";
    mode.type = SoapySDR::ArgInfo::STRING;
    mode.value = kNoMode;
    for (const ModeOption& option : kModes) {
        mode.options.emplace_back(option.value);
        mode.optionNames.emplace_back(option.name);
    }
    return {tune, mode};
}

void ZefDevice::writeSetting(const std::string& key, const std::string& value) {
    if (key == "tune") {
        instrument::tune(toHz(parseNumber(key, value), "tuned frequency"));
        return;
    }
    if (key == "mode") {
        for (const ModeOption& option : kModes) {
            if (value == option.value) {
                instrument::setMode(option.letter);
                return;
            }
        }
        throw std::invalid_argument("ZEF418: mode must be one of none, C, U, L, A, F, E; got \"" +
                                    value + "\"");
    }
    throw std::invalid_argument("ZEF418: unknown setting \"" + key + "\"");
}

std::string ZefDevice::readSetting(const std::string& key) const {
    const instrument::State state = instrument::state();
    if (key == "tune") {
        return std::to_string(state.tuned);
    }
    if (key == "mode") {
        for (const ModeOption& option : kModes) {
            if (option.letter == state.mode) {
                return option.value;
            }
        }
        return kNoMode; // not reached: every mode code has its option
    }
    return SoapySDR::Device::readSetting(key);
}

} // namespace zef::soapy

// Everything that is neither opening nor streaming: antenna, frequency,
// sample rate, DC removal, the gain and bandwidth the instrument lacks, and
// the device settings.
//
// Most SoapySDR programs catch nothing around these calls, so none of them
// throws. A query for a direction or channel that does not exist answers as
// SoapySDR's Device base class does (nothing, "", 0); a setter with a value
// that changes nothing is accepted with one log line at most; a value that
// cannot be met is limited to the nearest one the instrument has, logged,
// and read back as set.
#include "ZefDevice.hpp"

#include <SoapySDR/Logger.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

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

// Notes are kept by kind, and the names of settings and components that
// programs invent; far more than any program uses.
constexpr std::size_t kMaxNotes = 64;

bool isOurs(int direction, size_t channel) {
    return direction == SOAPY_SDR_RX && channel == 0;
}

std::string channelWords(int direction, size_t channel) {
    return std::string(direction == SOAPY_SDR_TX ? "transmit" : "receive") + " channel " +
           std::to_string(channel);
}

// A number as a program writes it into a setting, whatever its locale.
std::optional<double> parseNumber(const std::string& value) {
    double number = 0.0;
    const char* end = value.data() + value.size();
    const auto [stop, fault] = std::from_chars(value.data(), end, number);
    if (fault != std::errc() || stop != end || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

std::string hertz(double frequency) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f Hz", frequency);
    return text;
}

} // namespace

bool ZefDevice::noteOnce(const std::string& key, SoapySDRLogLevel level,
                         const std::string& message) {
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(notedLock_);
        first = noted_.size() < kMaxNotes && noted_.insert(key).second;
    }
    if (first) {
        SoapySDR::log(level, ("ZEF418: " + message).c_str());
    }
    return first;
}

void ZefDevice::ignoreChannel(const char* call, int direction, size_t channel) {
    noteOnce(std::string("channel ") + call, SOAPY_SDR_WARNING,
             std::string(call) + " for " + channelWords(direction, channel) +
                 " ignored: the instrument has receive channel 0 alone");
}

double ZefDevice::limitFrequency(double frequency, const char* what) {
    const double limited = std::clamp(frequency, kMinFrequency, kMaxFrequency);
    if (limited != frequency) {
        const std::string message = std::string(what) + " " + hertz(frequency) +
                                    " is beyond the instrument's 0 to 100 MHz; set to " +
                                    hertz(limited) + " instead";
        if (!noteOnce(std::string("limit ") + what, SOAPY_SDR_WARNING, message)) {
            SoapySDR::log(SOAPY_SDR_DEBUG, ("ZEF418: " + message).c_str());
        }
    }
    return limited;
}

std::vector<std::string> ZefDevice::listAntennas(int direction, size_t channel) const {
    return isOurs(direction, channel) ? std::vector<std::string>{kAntenna}
                                      : std::vector<std::string>{};
}

// Programs set the antenna they saved, "" when a device has only one
// (CubicSDR), or another device's; the one antenna stays whatever they name.
void ZefDevice::setAntenna(int direction, size_t channel, const std::string& name) {
    if (!isOurs(direction, channel)) {
        ignoreChannel("setAntenna", direction, channel);
    } else if (name.empty()) {
        noteOnce("antenna empty", SOAPY_SDR_DEBUG, "no antenna named; the only one, RX, stays");
    } else if (name != kAntenna) {
        noteOnce("antenna name", SOAPY_SDR_WARNING,
                 "there is no antenna \"" + name + "\"; the only one, RX, stays");
    }
}

std::string ZefDevice::getAntenna(int direction, size_t channel) const {
    return isOurs(direction, channel) ? kAntenna : "";
}

std::vector<std::string> ZefDevice::listFrequencies(int direction, size_t channel) const {
    return isOurs(direction, channel) ? std::vector<std::string>{kFrequencyComponent}
                                      : std::vector<std::string>{};
}

void ZefDevice::setFrequency(int direction, size_t channel, const std::string& name,
                             double frequency, const SoapySDR::Kwargs& /*args*/) {
    if (!isOurs(direction, channel)) {
        ignoreChannel("setFrequency", direction, channel);
        return;
    }
    if (name != kFrequencyComponent) {
        noteOnce("component " + name, SOAPY_SDR_WARNING,
                 "there is no frequency component \"" + name + "\" (only RF); " + hertz(frequency) +
                     " for it ignored");
        return;
    }
    if (std::isnan(frequency)) {
        noteOnce("frequency nan", SOAPY_SDR_WARNING, "frequency NaN ignored");
        return;
    }
    const double limited = limitFrequency(frequency, "frequency");
    instrument::setLocalOscillator(static_cast<std::int32_t>(std::llround(limited)));
}

double ZefDevice::getFrequency(int direction, size_t channel, const std::string& name) const {
    if (!isOurs(direction, channel) || name != kFrequencyComponent) {
        return 0.0;
    }
    return instrument::state().localOscillator;
}

SoapySDR::RangeList ZefDevice::getFrequencyRange(int direction, size_t channel,
                                                 const std::string& name) const {
    if (!isOurs(direction, channel) || name != kFrequencyComponent) {
        return {};
    }
    return {SoapySDR::Range(kMinFrequency, kMaxFrequency)};
}

void ZefDevice::setSampleRate(int direction, size_t channel, double rate) {
    if (!isOurs(direction, channel)) {
        ignoreChannel("setSampleRate", direction, channel);
    } else if (!(std::abs(rate - kStreamRate) < 0.5)) {
        noteOnce("rate", SOAPY_SDR_WARNING,
                 "the sample rate is fixed at 65104 S/s; " + std::to_string(rate) +
                     " S/s asked, 65104 S/s it stays");
    }
}

double ZefDevice::getSampleRate(int direction, size_t channel) const {
    return isOurs(direction, channel) ? kStreamRate : 0.0;
}

std::vector<double> ZefDevice::listSampleRates(int direction, size_t channel) const {
    return isOurs(direction, channel) ? std::vector<double>{kStreamRate} : std::vector<double>{};
}

SoapySDR::RangeList ZefDevice::getSampleRateRange(int direction, size_t channel) const {
    if (!isOurs(direction, channel)) {
        return {};
    }
    return {SoapySDR::Range(kStreamRate, kStreamRate)};
}

bool ZefDevice::hasDCOffsetMode(int direction, size_t channel) const {
    return isOurs(direction, channel);
}

void ZefDevice::setDCOffsetMode(int direction, size_t channel, bool automatic) {
    if (!isOurs(direction, channel)) {
        ignoreChannel("setDCOffsetMode", direction, channel);
        return;
    }
    dcRemoval_.store(automatic);
}

bool ZefDevice::getDCOffsetMode(int direction, size_t channel) const {
    return isOurs(direction, channel) && dcRemoval_.load();
}

// Programs set a gain and a bandwidth as a matter of course; refusing them
// would stop the program, so they are accepted, and the debug log says once
// that they change nothing.
void ZefDevice::noteNoGain(const char* call, int direction, size_t channel) {
    if (!isOurs(direction, channel)) {
        ignoreChannel(call, direction, channel);
        return;
    }
    noteOnce("gain", SOAPY_SDR_DEBUG,
             "the instrument has no gain and no bandwidth to set; gain and bandwidth calls are "
             "accepted and ignored");
}

void ZefDevice::setGainMode(int direction, size_t channel, bool /*automatic*/) {
    noteNoGain("setGainMode", direction, channel);
}

void ZefDevice::setGain(int direction, size_t channel, double /*value*/) {
    noteNoGain("setGain", direction, channel);
}

void ZefDevice::setGain(int direction, size_t channel, const std::string& /*name*/,
                        double /*value*/) {
    noteNoGain("setGain", direction, channel);
}

void ZefDevice::setBandwidth(int direction, size_t channel, double /*bandwidth*/) {
    noteNoGain("setBandwidth", direction, channel);
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
        const std::optional<double> frequency = parseNumber(value);
        if (!frequency) {
            noteOnce("tune number", SOAPY_SDR_WARNING,
                     "setting \"tune\" needs a number in Hz, got \"" + value +
                         "\"; the tuned frequency stays");
            return;
        }
        const double limited = limitFrequency(*frequency, "tuned frequency");
        instrument::tune(static_cast<std::int32_t>(std::llround(limited)));
        return;
    }
    if (key == "mode") {
        for (const ModeOption& option : kModes) {
            if (value == option.value) {
                instrument::setMode(option.letter);
                return;
            }
        }
        noteOnce("mode value", SOAPY_SDR_WARNING,
                 "mode must be one of none, C, U, L, A, F, E; got \"" + value +
                     "\", and the mode stays");
        return;
    }
    noteOnce("setting " + key, SOAPY_SDR_WARNING,
             "there is no setting \"" + key + "\" (only tune and mode); ignored");
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

#include "sim_config.h"

#include "sim/device_frames.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <span>
#include <utility>

namespace zef::sim {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<double> number(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end == copy.c_str() || !std::isfinite(value)) {
        return std::nullopt;
    }
    const std::string_view unit = trim(std::string_view(end));
    double scale = 0.0;
    if (unit.empty()) {
        scale = 1.0;
    } else if (unit == "k") {
        scale = 1e3;
    } else if (unit == "M") {
        scale = 1e6;
    }
    // A unit can carry a finite number past the largest double.
    if (scale == 0.0 || !std::isfinite(value * scale)) {
        return std::nullopt;
    }
    return value * scale;
}

std::optional<std::uint64_t> whole(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> yesNo(std::string_view text) {
    if (text == "yes" || text == "1" || text == "on" || text == "true") {
        return true;
    }
    if (text == "no" || text == "0" || text == "off" || text == "false") {
        return false;
    }
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 64>> calibrationBlock(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        } else if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
    }
    if (digits.size() != 124 && digits.size() != 128) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 64> block{};
    for (std::size_t i = 0; i < digits.size() / 2; ++i) {
        block[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    if (digits.size() == 124) {
        sealBlock(std::span<std::uint8_t, 64>(block));
    }
    return block;
}

std::optional<ConfiguredDevice> device(std::string_view text) {
    ConfiguredDevice result;
    const std::size_t at = text.rfind('@');
    result.description = std::string(trim(text.substr(0, at)));
    if (result.description.empty() || result.description.size() >= 64) {
        return std::nullopt;
    }
    if (at == std::string_view::npos) {
        return result;
    }
    std::string_view rest = trim(text.substr(at + 1));
    bool first = true;
    while (!rest.empty()) {
        const std::size_t space = rest.find_first_of(" \t");
        const std::string_view word = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : trim(rest.substr(space));
        if (first) {
            const auto location = whole(word, 0xFFFFFFFF);
            if (!location) {
                return std::nullopt;
            }
            result.location = static_cast<std::uint32_t>(*location);
        } else if (word == "held") {
            result.held = true;
        } else if (word == "cts") {
            result.cts = true;
        } else {
            return std::nullopt;
        }
        first = false;
    }
    return first ? std::nullopt : std::optional(result);
}

struct FaultKey {
    const char* key;
    int fault;
    bool rate;
    bool flag;
};

constexpr FaultKey kFaultKeys[] = {
    {"corrupt_rate", ZEFSIM_CORRUPT_RATE, true, false},
    {"drop_rate", ZEFSIM_DROP_RATE, true, false},
    {"write_limit", ZEFSIM_WRITE_LIMIT, false, false},
    {"fail_writes", ZEFSIM_FAIL_WRITES, false, false},
    {"zero_writes", ZEFSIM_ZERO_WRITES, false, false},
    {"never_ready", ZEFSIM_NEVER_READY, false, true},
    {"never_ack", ZEFSIM_NEVER_ACK, false, true},
};

// Applies one setting; returns what is wrong with it, or "".
std::string apply(SimConfig& config, std::string_view key, std::string_view value,
                  bool& devicesGiven) {
    if (key == "device") {
        const bool none = value == "none";
        const auto parsed = none ? std::nullopt : device(value);
        if (!parsed && !none) {
            return "expected DESCRIPTION [@ LOCATION] [held] [cts]";
        }
        if (!devicesGiven) {
            config.devices.clear();
            devicesGiven = true;
        }
        if (parsed) {
            config.devices.push_back(*parsed);
        }
        return {};
    }
    if (key == "timing") {
        if (value != "realtime" && value != "fast") {
            return "expected realtime or fast";
        }
        config.timing = value == "realtime" ? ZEFSIM_REALTIME : ZEFSIM_FAST;
        return {};
    }
    if (key == "signal") {
        if (value != "carrier" && value != "pattern") {
            return "expected carrier or pattern";
        }
        config.signal = value == "carrier" ? ZEFSIM_SIGNAL : ZEFSIM_TEST_PATTERN;
        return {};
    }
    if (key == "carrier") {
        const auto hz = number(value);
        if (!hz) {
            return "expected a frequency in Hz, signed for an offset from the LO";
        }
        config.carrierHz = *hz;
        config.carrierFollowsLo = value.front() == '+' || value.front() == '-';
        return {};
    }
    if (key == "amplitude") {
        const auto counts = number(value);
        if (!counts || *counts < 0.0 || *counts > 32767.0) {
            return "expected counts from 0 to 32767";
        }
        config.amplitude = *counts;
        return {};
    }
    if (key == "model") {
        const auto model = whole(value, 0xFFFF);
        if (!model) {
            return "expected a number from 0 to 65535";
        }
        config.model = static_cast<std::uint16_t>(*model);
        return {};
    }
    if (key == "gateware_startup_ms") {
        const auto ms = whole(value, kMaxGatewareStartupMs);
        if (!ms) {
            return "expected milliseconds from 0 to 60000";
        }
        config.gatewareStartupMs = static_cast<std::uint32_t>(*ms);
        return {};
    }
    if (key == "transfer_size") {
        const auto bytes = whole(value, kMaxTransferBytes);
        if (!bytes || *bytes < kMinTransferBytes || *bytes % kMinTransferBytes != 0) {
            return "expected a multiple of 64 from 64 to 65536";
        }
        config.transferBytes = static_cast<std::uint32_t>(*bytes);
        return {};
    }
    if (key == "receive_capacity") {
        const auto bytes = whole(value, kMaxReceiveCapacity);
        if (!bytes || *bytes < kMinReceiveCapacity) {
            return "expected bytes from 4096 to 67108864";
        }
        config.receiveCapacity = static_cast<std::uint32_t>(*bytes);
        return {};
    }
    if (key == "calibration_a" || key == "calibration_b") {
        const auto block = calibrationBlock(value);
        if (!block) {
            return "expected 62 or 64 bytes in hex";
        }
        (key == "calibration_a" ? config.calibrationA : config.calibrationB) = block;
        return {};
    }
    for (const FaultKey& fault : kFaultKeys) {
        if (key != fault.key) {
            continue;
        }
        std::optional<double> parsed;
        if (fault.flag) {
            if (const auto flag = yesNo(value)) {
                parsed = *flag ? 1.0 : 0.0;
            }
        } else if (fault.rate) {
            parsed = number(value);
            if (parsed && (*parsed < 0.0 || *parsed > 1.0)) {
                parsed.reset();
            }
        } else if (const auto count = whole(value, 0xFFFFFFFF)) {
            parsed = static_cast<double>(*count);
        }
        if (!parsed) {
            return fault.flag   ? "expected yes or no"
                   : fault.rate ? "expected a probability from 0 to 1"
                                : "expected a whole number";
        }
        config.faults.emplace_back(fault.fault, *parsed);
        return {};
    }
    // A hostile file must not reach the terminal with control sequences.
    std::string shown(key);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return "unknown setting \"" + shown + "\"";
}

} // namespace

SimConfig parseSimConfig(std::string_view text, const std::string& source,
                         std::vector<std::string>& messages) {
    SimConfig config;
    bool devicesGiven = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        const std::size_t equals = line.find('=');
        std::string problem;
        if (equals == std::string_view::npos) {
            problem = "expected key = value";
        } else {
            const std::string_view value = trim(line.substr(equals + 1));
            problem = value.empty()
                          ? "no value"
                          : apply(config, trim(line.substr(0, equals)), value, devicesGiven);
        }
        if (!problem.empty()) {
            std::string message = "zefsim: ";
            message += source;
            message += ":" + std::to_string(lineNumber) + ": ";
            message += problem;
            message += "; line ignored";
            messages.push_back(std::move(message));
        }
    }
    return config;
}

} // namespace zef::sim

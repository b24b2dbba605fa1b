// Fuzzes the simulator's configuration file (zefsim.conf). Every line it
// cannot use is reported once, with its number, and skipped: the same text
// with those lines blanked reads without a message to the same settings.
// Whatever it takes is a value the simulator can run with.
#include "sim/sim_config.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using zef::sim::SimConfig;

// Names the failed check's line: the harness is built optimised.
void check(bool ok, int line = __builtin_LINE()) {
    if (!ok) {
        std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
        std::abort();
    }
}

const std::string kSource = "zefsim.conf";

// The line number of a message, checking its form.
std::size_t reportedLine(const std::string& message) {
    const std::string prefix = "zefsim: " + kSource + ":";
    const std::string suffix = "; line ignored";
    check(message.starts_with(prefix) && message.ends_with(suffix));
    std::size_t line = 0;
    std::size_t at = prefix.size();
    for (; at < message.size() && message[at] >= '0' && message[at] <= '9'; ++at) {
        line = line * 10 + static_cast<std::size_t>(message[at] - '0');
    }
    check(at > prefix.size() && message.compare(at, 2, ": ") == 0);
    return line;
}

bool sameDevices(const SimConfig& a, const SimConfig& b) {
    return std::equal(a.devices.begin(), a.devices.end(), b.devices.begin(), b.devices.end(),
                      [](const auto& x, const auto& y) {
                          return x.description == y.description && x.location == y.location &&
                                 x.held == y.held && x.cts == y.cts;
                      });
}

bool same(const SimConfig& a, const SimConfig& b) {
    return sameDevices(a, b) && a.timing == b.timing && a.signal == b.signal &&
           a.carrierHz == b.carrierHz && a.carrierFollowsLo == b.carrierFollowsLo &&
           a.amplitude == b.amplitude && a.model == b.model && a.calibrationA == b.calibrationA &&
           a.calibrationB == b.calibrationB && a.faults == b.faults &&
           a.gatewareStartupMs == b.gatewareStartupMs && a.transferBytes == b.transferBytes &&
           a.receiveCapacity == b.receiveCapacity;
}

void checkUsable(const SimConfig& config) {
    for (const auto& device : config.devices) {
        check(!device.description.empty() && device.description.size() < 64);
    }
    check(config.timing == ZEFSIM_REALTIME || config.timing == ZEFSIM_FAST);
    check(config.signal == ZEFSIM_SIGNAL || config.signal == ZEFSIM_TEST_PATTERN);
    check(std::isfinite(config.carrierHz));
    check(config.amplitude >= 0.0 && config.amplitude <= 32767.0);
    for (const auto& [fault, value] : config.faults) {
        check(std::isfinite(value) && value >= 0.0);
        if (fault == ZEFSIM_CORRUPT_RATE || fault == ZEFSIM_DROP_RATE) {
            check(value <= 1.0);
        }
    }
    check(config.gatewareStartupMs <= zef::sim::kMaxGatewareStartupMs);
    check(config.transferBytes >= zef::sim::kMinTransferBytes &&
          config.transferBytes <= zef::sim::kMaxTransferBytes &&
          config.transferBytes % zef::sim::kMinTransferBytes == 0);
    check(config.receiveCapacity >= zef::sim::kMinReceiveCapacity &&
          config.receiveCapacity <= zef::sim::kMaxReceiveCapacity);
}

// `text` with the numbered lines emptied, numbering kept.
std::string withoutLines(std::string_view text, const std::set<std::size_t>& lines) {
    std::string out;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        ++number;
        if (lines.count(number) == 0) {
            out += text.substr(0, end);
        }
        if (end == std::string_view::npos) {
            break;
        }
        out += '\n';
        text.remove_prefix(end + 1);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> messages;
    const SimConfig config = zef::sim::parseSimConfig(text, kSource, messages);
    checkUsable(config);

    std::set<std::size_t> reported;
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const std::string& message : messages) {
        const std::size_t line = reportedLine(message);
        check(line >= 1 && line <= lines);
        check(reported.empty() || line > *reported.rbegin()); // once each, in order
        reported.insert(line);
    }

    std::vector<std::string> none;
    const SimConfig kept = zef::sim::parseSimConfig(withoutLines(text, reported), kSource, none);
    check(none.empty());
    check(same(config, kept));
    return 0;
}

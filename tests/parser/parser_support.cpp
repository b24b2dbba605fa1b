#include "parser_support.h"

#include "plugin/device_state.h"

#include <array>

namespace parser_test {

Host host;

namespace {

void recordingCallback(int count, int status, float iqOffset, void* data) {
    host.deliveries.push_back({count, status, iqOffset, data,
                               zef::sim::patternFrameNumber(static_cast<std::uint8_t*>(data))});
    if (host.duringCallback) {
        host.duringCallback();
    }
}

} // namespace

void resetAll() {
    zef::parserState = zef::ParserState{};
    zef::DeviceState& state = zef::deviceState;
    state.deviceReady.store(false);
    state.settingsAcked.store(false);
    state.deviceModel.store(0);
    state.calibrationA.fill(0);
    state.calibrationB.fill(0);
    state.hostCallback.store(&recordingCallback);
    state.callbackSet.store(true);
    state.streaming.store(true);
    host = Host{};
}

void appendSampleFrame(std::vector<std::uint8_t>& out, std::uint32_t number, std::uint8_t type,
                       std::size_t preambleBytes) {
    std::array<std::uint8_t, zef::sim::kSampleBodySize> body{};
    zef::sim::writePatternBody(body.data(), number);
    zef::sim::appendFrame(out, type, body, preambleBytes);
}

std::vector<std::int64_t> deliveredFrameNumbers() {
    std::vector<std::int64_t> numbers;
    for (const Delivery& delivery : host.deliveries) {
        numbers.push_back(delivery.frameNumber);
    }
    return numbers;
}

} // namespace parser_test

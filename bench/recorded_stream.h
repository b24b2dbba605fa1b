// A recorded receive stream for the parser figures: test-pattern sample frames
// with a status frame now and then, as the device sends while streaming, and
// a sink callback that keeps the deliveries from being optimised away.
#pragma once

#include "main_thread/frame_parser.h"
#include "platform/platform.h"
#include "plugin/device_state.h"
#include "sim/device_frames.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zef_bench {

inline constexpr std::uint32_t kFramesPerStatus = 16;

// `frames` sample frames; with `withStatus`, a status frame (ready, sealed
// calibration blocks) after every kFramesPerStatus of them.
inline std::vector<std::uint8_t> recordedStream(std::uint32_t frames, bool withStatus) {
    namespace sim = zef::sim;
    std::array<std::uint8_t, sim::kCalibrationSize> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7U + 3U);
    }
    sim::sealBlock(block);
    const auto status = sim::statusBody(sim::kStateReady, 53, block, block);
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    std::vector<std::uint8_t> stream;
    for (std::uint32_t n = 0; n < frames; ++n) {
        sim::writePatternBody(body.data(), n);
        sim::appendFrame(stream, sim::kSampleType, body);
        if (withStatus && n % kFramesPerStatus == kFramesPerStatus - 1) {
            sim::appendFrame(stream, sim::kStatusType, status);
        }
    }
    return stream;
}

inline std::uint64_t deliveredBlocks = 0;

inline void EXTIO_CALLBACK_CALL countingCallback(int /*count*/, int /*status*/, float /*iqOffset*/,
                                                 void* data) {
    ++deliveredBlocks;
    // Touch the block as a host would, so the copy cannot be skipped.
    deliveredBlocks += *static_cast<const std::uint8_t*>(data) & 1U;
}

// Parser state zero, delivery on, the counting callback in place.
inline void prepareParser() {
    zef::parserState = zef::ParserState{};
    zef::deviceState.hostCallback.store(&countingCallback);
    zef::deviceState.callbackSet.store(true);
    zef::deviceState.streaming.store(true);
    deliveredBlocks = 0;
}

class IdleWorker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

} // namespace zef_bench

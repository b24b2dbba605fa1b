// What the parser tests share: a worker that never runs, a host callback that
// records what it is given, and streams built with the device's frame encoder.
#pragma once

#include "main_thread/frame_parser.h"
#include "platform/platform.h"
#include "sim/device_frames.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace parser_test {

class IdleWorker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

struct Delivery {
    int count;
    int status;
    float iqOffset;
    const void* data;
    std::int64_t frameNumber; // test-pattern number, -1 if the body is no pattern
};

struct Host {
    std::vector<Delivery> deliveries;
    std::function<void()> duringCallback;
};

extern Host host;

// Zero parser, cleared DeviceState flags and calibration, the recording
// callback set and streaming raised.
void resetAll();

// Test-pattern sample frame `number` with the given type byte and preamble.
void appendSampleFrame(std::vector<std::uint8_t>& out, std::uint32_t number,
                       std::uint8_t type = zef::sim::kSampleType,
                       std::size_t preambleBytes = zef::sim::kPreambleBytes);

std::vector<std::int64_t> deliveredFrameNumbers();

} // namespace parser_test

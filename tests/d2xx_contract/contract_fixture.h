// The contract suite's fixture: one model per case, opened and driven the way
// the plug-in drives a bridge (3 MBd, a 2 ms latency timer), the ZEF418's
// gateware loaded and started through the driver under test, and what the
// stream carries read back as numbered sample frames.
#pragma once

#include "d2xx_model.h"
#include "sim/fpga_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zef::contract {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kFrameBytes = sim::test::kSampleFrameBytes;
// The instrument's stream: 127.2 sample frames a second.
inline constexpr double kStreamBytesPerSecond = 65104.0 / 512.0 * kFrameBytes;

struct Frames {
    std::vector<std::int64_t> numbers; // of the good sample frames, in order
    std::size_t bad = 0;               // frames whose CRC failed
};
Frames framesOf(const Bytes& stream);

class D2xxContract : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override;
    void TearDown() override;

    Model& model() { return *model_; }
    const D2xx& d2xx() { return model_->d2xx(); }

    // The location the instrument is listed at (0 when it is not).
    std::uint32_t instrumentLocation();
    // Opens the instrument by its location and sets the port up; the handle
    // is closed after the case unless forgotten (the case closed it).
    FT_HANDLE open();
    void forget(FT_HANDLE handle);
    // Loads the gateware, starts it and returns once its first bytes are queued.
    void startStream(FT_HANDLE handle);
    Bytes readQueued(FT_HANDLE handle);
    void writeAll(FT_HANDLE handle, const Bytes& bytes);

  private:
    std::unique_ptr<Model> model_;
    std::vector<FT_HANDLE> opened_;
};

std::string modelName(const testing::TestParamInfo<std::string>& info);

// Polls `done` (which may call the driver) until it holds.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(10));
// Runs `body` on a thread; when it has not ended within `limit` the driver
// deadlocked: the case fails and the process ends, its threads stuck.
void withinOrDeadlocked(std::chrono::seconds limit, const std::function<void()>& body,
                        const char* what);

} // namespace zef::contract

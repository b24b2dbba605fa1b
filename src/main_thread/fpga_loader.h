// Loading the FPGA through the bridge's bit-bang port, then the start command
// and the wait for the device's ready status.
#pragma once

#include "fpga_image.h"
#include "platform/platform.h"

#include <cstdint>

namespace zef {

// What the loader waits with: the worker's parser pass and a sleep.
struct FpgaLoaderWaits {
    void (*parserPass)(const platform::Thread& worker);
    void (*sleepMs)(std::uint32_t milliseconds);
};

inline constexpr std::uint32_t kProgramPulseMs = 25;
inline constexpr std::uint32_t kProgramReleaseMs = 50;
inline constexpr std::size_t kTrailerPairs = 64;
inline constexpr std::uint32_t kBridgeDrainMs = 500;
// The plain driver's transmit queue is polled for at most this long: a dead
// link may never report it empty.
inline constexpr std::uint32_t kPlainDrainLimitMs = 2000;
inline constexpr int kReadyWaitPasses = 200;
inline constexpr std::uint32_t kReadyWaitPauseMs = 5;

// Worker thread only. Loads the embedded image, starts the gateware, waits for
// the device's ready status and then raises settingsChanged. Every write of
// the load (program pulse, image, trailer, start command) is completed from
// the first byte not accepted; one that fails or accepts nothing abandons the
// load and leaves its status in driverStatus, so that the next StartHW
// reopens the device. Returns false for an abandoned load, as for a terminate
// request during the image.
bool ConfigureFpga(const platform::Thread& worker);

// The same with a given image and given waits.
bool ConfigureFpga(const platform::Thread& worker, FpgaImage image, FpgaLoaderWaits waits);

} // namespace zef

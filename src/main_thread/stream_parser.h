// The receive stream: frames introduced by the sync preamble, CRC-tested;
// status frames update DeviceState, sample frames go to the host's callback.
// The parsing itself lives in frame_parser.h; a pass feeds it from the driver.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace zef {

// Bytes beyond this stay queued in the driver for the next pass.
inline constexpr std::uint32_t kMaxPassBytes = 65000;

// One read-and-parse cycle on the open device: takes what the driver has
// queued (at most kMaxPassBytes) and runs it through the parser. Only one
// thread at a time (the worker, or a test) may run passes; the host's callback
// is called from inside the pass with no lock held. Returns before the next
// byte once the worker is asked to terminate.
void parserPass(const platform::Thread& worker);

// When a pass last read bytes (the monotonic clock), 0 before any; the
// worker's alone.
std::uint64_t lastBytesUs();

} // namespace zef

// The receive stream: frames introduced by the sync preamble, CRC-tested;
// status frames update DeviceState, sample frames go to the host's callback.
#pragma once

#include "platform/platform.h"

namespace zef {

// One read-and-parse cycle on the open device. Worker thread only; returns at
// once when the worker is asked to terminate.
void parserPass(const platform::Thread& worker);

} // namespace zef

// The serial line from the gateware to the bridge and the bridge's receive
// queue: bytes move at the wire rate (real time) or at once (fast), suffer
// the configured faults, and wake the registered event when they arrive.
#pragma once

#include "sim/sim_state.h"

#include <cstdint>

namespace zef::sim {

// 3 MBd, ten bits a byte.
inline constexpr std::uint64_t kWireBytesPerSecond = 300000;

void pump(Environment& env, Port& port, std::uint64_t nowUs);

} // namespace zef::sim

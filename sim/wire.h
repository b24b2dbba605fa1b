// The receive side of an open port: the serial line from the gateware to the
// bridge and the driver's receive buffer. Fast timing moves frames straight
// into the buffer as it is read; real time goes through the bridge's packets
// and the driver's transfers. Either way only the driver's thread signals
// the registered event, once for each batch (fast) or transfer (real time)
// that brought bytes, and never under the simulator's lock.
#pragma once

#include "sim/sim_state.h"

#include <cstdint>

namespace zef::sim {

// Brings the receive buffer up to `nowUs`; what brought bytes waits in
// `port.unsignalled` for the driver's thread, which is woken for it.
void pump(SimState& state, Port& port, std::uint64_t nowUs);
// Real time: nothing a reader could see changes on this port before the
// time returned (UINT64_MAX: nothing is coming).
std::uint64_t quietUntilUs(const Environment& env, const Port& port, std::uint64_t nowUs);
// Fast timing, whose bytes arrive the moment they are read: a reader that
// missed the signal of the batch waiting for it (it came while the reader
// was busy) is signalled again each millisecond while the bytes wait. The
// driver's thread calls it; true when a signal is owed.
bool nudge(const Environment& env, Port& port, std::uint64_t nowUs);

// Real time: takes what was due by `nowUs`, so that a change of the port's
// settings at `nowUs` applies only after it. Fast timing: nothing.
void catchUp(SimState& state, Port& port, std::uint64_t nowUs);
// Real time: the bridge and the driver's transfer start again from `nowUs`
// (a new port, a purge, a change of timing).
void restartReceive(Port& port, std::uint64_t nowUs);
// Real time: the bridge sends no packets while the port is in bit-bang
// mode. Call after changing it (catchUp before).
void updateReceiveHold(Port& port, std::uint64_t nowUs);

} // namespace zef::sim

// The receive side of an open port: the serial line from the gateware to the
// bridge and the driver's receive buffer. Fast timing moves frames straight
// into the buffer as it is read and wakes the registered event then; real
// time goes through the bridge's packets and the driver's transfers, and
// only the driver's thread wakes the event.
#pragma once

#include "sim/sim_state.h"

#include <cstdint>

namespace zef::sim {

// Brings the receive buffer up to `nowUs`. In real time it never signals:
// completed transfers wait in `port.unsignalled` for signalEvents.
void pump(Environment& env, Port& port, std::uint64_t nowUs);
// The driver's thread: one signal for each completed transfer.
void signalEvents(Environment& env, Port& port);

// Real time: takes what was due by `nowUs`, so that a change of the port's
// settings at `nowUs` applies only after it. Fast timing: nothing.
void catchUp(Environment& env, Port& port, std::uint64_t nowUs);
// Real time: the bridge and the driver's transfer start again from `nowUs`
// (a new port, a purge, a change of timing).
void restartReceive(Port& port, std::uint64_t nowUs);
// Real time: the bridge sends no packets while the port is in bit-bang mode
// or its in-task is stopped. Call after changing either (catchUp before).
void updateReceiveHold(Port& port, std::uint64_t nowUs);

} // namespace zef::sim

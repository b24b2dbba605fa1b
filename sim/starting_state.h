// The starting state of a simulator that no control call has configured: the
// configuration file's, or one ZEF418 with a carrier 1 kHz above the LO, so
// that any program using the driver finds an instrument. Taken at the first
// device-list or open call. A state-changing control call before that keeps
// the control interface's empty start; ZEFSIM_CONFIG=none does the same (the
// project's tests run with it).
//
// The file: named by ZEFSIM_CONFIG, else zefsim.conf beside the simulator
// library (format: sim_config.h).
#pragma once

namespace zef::sim {

// Called by the D2XX device-list and open calls, without the state's lock.
void ensureStartingState();

// Called by every control call that changes the simulator.
void controlTookOver();

} // namespace zef::sim

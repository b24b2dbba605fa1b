// While the host streams, the worker keeps the link: a device that has gone
// silent is asked whether it is still there, and one that is gone (a pulled
// cable) is opened again, as StartHW would, until it is back. The reopen
// loads the FPGA and sends the settings again, so a replugged instrument
// streams on without the host doing anything.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace zef {

// Silence worth a look: blocks come every 8 ms, and a load, which is silent
// for longer, is left alone.
inline constexpr std::uint64_t kLinkSilenceUs = 250000;
inline constexpr std::uint64_t kLinkCheckEveryUs = 250000;
inline constexpr std::uint64_t kReopenEveryUs = 500000;

// One look, on a worker pass; cheap when there is nothing to do.
void keepLink(const platform::Thread& worker);

// On for the ExtIO exports. A front end that watches the link itself, with
// its own reports (zef/instrument.h), turns it off.
void setLinkKeeping(bool on);

} // namespace zef

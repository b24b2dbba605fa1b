// One lock keeps a reopen from the host's thread away from the worker's driver
// calls: it is taken per driver call or per short sequence, never while the
// host's callback runs and never across a sleep.
#pragma once

#include "platform/platform.h"

namespace zef {

platform::Mutex& driverLock();

} // namespace zef

// Loading the FPGA through the bridge's bit-bang port, then the start command
// and the wait for the device's ready status.
#pragma once

#include "platform/platform.h"

namespace zef {

void ConfigureFpga(const platform::Thread& worker);

} // namespace zef

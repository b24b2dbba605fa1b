// The settings command: preamble, 65-byte settings frame, acknowledgement wait.
#pragma once

#include "platform/platform.h"

namespace zef {

void sendSettingsFrame(const platform::Thread& worker);

} // namespace zef

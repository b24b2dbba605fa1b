#include "settings_frame.h"

namespace zef {

void sendSettingsFrame(const platform::Thread& /*worker*/) {}

} // namespace zef

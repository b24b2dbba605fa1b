// zef-host's own look at the D2XX driver, through the core's front-end
// contract: an ExtIO plug-in reports no device failure to its host, so when
// no samples come this is how the user learns what the driver says.
#pragma once

#include <string>

namespace zef::host {

// One sentence: the driver's status in words, or which instruments it lists.
// Binds the driver in zef-host's process and lists; opens nothing.
std::string driverCheck();

} // namespace zef::host

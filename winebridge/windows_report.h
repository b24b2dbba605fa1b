// Tells the Windows side of the process what the bridge reached on the Linux
// side (zef/wine_bridge.h), through its Windows environment, which the
// plug-in reads after its LoadLibrary.
#pragma once

#include <string>

namespace zef::winebridge {

void reportLinuxLibrary(const std::string& file);
void reportFailure(const std::string& failure);

} // namespace zef::winebridge

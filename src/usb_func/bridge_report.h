// What the Wine bridge lin_ftd2xx.dll says of its Linux side
// (zef/wine_bridge.h): the Linux D2XX library it bound, or why it bound none
// and refused to load. Read from the process's environment right after the
// bridge library's load; a bridge library that is no Wine bridge (FTDI's
// own, the simulator's, any on Linux) says nothing, and what another process
// said does not count.
#pragma once

#include <string>

namespace zef {

std::string bridgeLinuxLibrary(); // "" when none was reported
std::string bridgeFailure();      // "" when none was reported

} // namespace zef

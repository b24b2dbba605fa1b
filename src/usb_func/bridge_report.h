// What the Wine bridge lin_ftd2xx.dll says of its Linux side
// (zef/wine_bridge.h): the Linux D2XX library it bound, or why it bound none
// and refused to load. Read from the process's environment right after the
// bridge library's load; a bridge library that is no Wine bridge (FTDI's
// own, the simulator's, any on Linux) says nothing.
#pragma once

#include <string>

namespace zef {

// Before each load of the bridge library, so nothing inherited is taken
// for its word.
void forgetBridgeReport();
std::string bridgeLinuxLibrary(); // "" when none was reported
std::string bridgeFailure();      // "" when none was reported

} // namespace zef

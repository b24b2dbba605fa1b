// What the Wine bridge lin_ftd2xx.dll tells the Windows side of its process
// about its Linux side, so that a status text can name both ends. Each load
// of it sets one of these variables in the process's Windows environment
// (and removes the other): the Linux D2XX library it bound, or why it refused
// to load. The value begins with the Windows process id and a space, so that
// a child process, which inherits the environment, takes none of it for its
// own.
#pragma once

namespace zef::winebridge {

inline constexpr const char* kLinuxLibraryVariable = "ZEF_BRIDGE_LINUX_LIBRARY";
inline constexpr const char* kFailureVariable = "ZEF_BRIDGE_FAILURE";

} // namespace zef::winebridge

// Which D2XX library files BindDriver tries, in order. By default the bridge
// library, then FTDI's own, then (Linux) the open driver libzefd2xx installed
// beside us; a choice made by a front end or by ZEF_D2XX in the environment
// is tried alone instead.
#pragma once

#include <string>
#include <vector>

namespace zef {

struct DriverCandidate {
    std::string file; // a bare name for the loader's search, or a path
    bool bridge = false;
};

// The open driver's file name.
inline constexpr const char* kOpenLibraryFile = "libzefd2xx.so";
// The environment variable that chooses a library (Linux).
inline constexpr const char* kDriverVariable = "ZEF_D2XX";

// "ftdi": FTDI's library; "zef": the open driver; anything else: a file name
// or path of a plain D2XX library. Empty: back to ZEF_D2XX or the default
// order. Under the driver lock.
void chooseDriverLibrary(const std::string& choice);

// Under the driver lock.
std::vector<DriverCandidate> driverCandidates();
// The choice in force ("" for the default order), for the words of a failure.
std::string driverChoice();
// Where the open driver lies beside this module; the first place is used
// when it is in none of them.
std::string openDriverPath();

} // namespace zef

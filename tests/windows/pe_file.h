// The names a PE file (DLL) exports and the DLLs it imports from, read from
// the file itself rather than through the loader, so that a DLL whose imports
// cannot be resolved can still be inspected.
#pragma once

#include <string>
#include <vector>

namespace zef::test {

struct PeDirectory {
    std::vector<std::string> exportNames;
    // Number of export address slots; more than the names means some exports
    // are reachable by ordinal only.
    unsigned exportSlots = 0;
    std::vector<std::string> importedDlls;
};

// Throws std::runtime_error when the file is missing or not a PE image.
PeDirectory readPeDirectory(const std::string& path);

} // namespace zef::test

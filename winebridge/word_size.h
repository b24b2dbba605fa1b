// The word size of a library file, read from its ELF header: a 32-bit Wine
// process can load only 32-bit Linux libraries, a 64-bit one only 64-bit
// ones, and the loader's own words for a mismatch do not say so plainly.
#pragma once

#include <optional>
#include <string>

namespace zef::winebridge {

// 32 or 64; nothing when the file cannot be read or is no ELF file.
std::optional<int> elfWordSize(const std::string& path);

// The word size of this process, and so of every library it can load.
inline constexpr int kProcessWordSize = sizeof(void*) * 8;

} // namespace zef::winebridge

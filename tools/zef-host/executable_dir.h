// The folder of the running program, for files that lie beside it.
#pragma once

#include <filesystem>

namespace zef::host {

// `argv0` is the fallback where the system cannot tell.
std::filesystem::path executableDir(const char* argv0);

} // namespace zef::host

#include "executable_dir.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zef::host {

std::filesystem::path executableDir(const char* argv0) {
    std::error_code ec;
#if defined(_WIN32)
    char buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) {
        return std::filesystem::path(std::string(buffer, length)).parent_path();
    }
#else
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.parent_path();
    }
#endif
    const auto absolute = std::filesystem::absolute(argv0, ec);
    return ec ? std::filesystem::path(".") : absolute.parent_path();
}

} // namespace zef::host

#include "windows_report.h"

#include "bridge_abi.h"
#include "zef/wine_bridge.h"

#include <cstdint>
#include <vector>

// Wine's kernel32, as a Windows program calls it. WCHAR is 16 bits there.
extern "C" {
int ZEF_WIN32_API MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* text,
                                      int bytes, char16_t* wide, int room);
int ZEF_WIN32_API SetEnvironmentVariableW(const char16_t* name, const char16_t* value);
std::uint32_t ZEF_WIN32_API GetCurrentProcessId();
}

namespace zef::winebridge {

namespace {

constexpr std::uint32_t kUtf8 = 65001;

// Linux file names are UTF-8, whatever the Windows code page.
std::vector<char16_t> wide(const std::string& text) {
    const int length = MultiByteToWideChar(kUtf8, 0, text.c_str(), -1, nullptr, 0);
    std::vector<char16_t> out(static_cast<std::size_t>(length > 0 ? length : 1), u'\0');
    if (length > 0) {
        MultiByteToWideChar(kUtf8, 0, text.c_str(), -1, out.data(), length);
    }
    return out;
}

void set(const char* name, const std::string* value) {
    const std::vector<char16_t> wideName = wide(name);
    if (value == nullptr) {
        SetEnvironmentVariableW(wideName.data(), nullptr);
    } else {
        const std::string stamped = std::to_string(GetCurrentProcessId()) + " " + *value;
        SetEnvironmentVariableW(wideName.data(), wide(stamped).data());
    }
}

} // namespace

void reportLinuxLibrary(const std::string& file) {
    set(kFailureVariable, nullptr);
    set(kLinuxLibraryVariable, &file);
}

void reportFailure(const std::string& failure) {
    set(kLinuxLibraryVariable, nullptr);
    set(kFailureVariable, &failure);
}

} // namespace zef::winebridge

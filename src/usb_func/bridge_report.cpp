#include "bridge_report.h"

#include "zef/wine_bridge.h"

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#endif

namespace zef {

#if defined(_WIN32)

namespace {

std::wstring wide(const char* ascii) {
    return {ascii, ascii + std::char_traits<char>::length(ascii)};
}

// UTF-8, as the Linux side wrote it.
std::string variable(const char* name) {
    const std::wstring wideName = wide(name);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (length == 0) {
        return "";
    }
    std::vector<wchar_t> value(length);
    if (GetEnvironmentVariableW(wideName.c_str(), value.data(), length) != length - 1) {
        return "";
    }
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, value.data(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value.data(), -1, text.data(), bytes, nullptr, nullptr);
    text.resize(text.size() - 1);
    const std::string ours = std::to_string(GetCurrentProcessId()) + " ";
    return text.rfind(ours, 0) == 0 ? text.substr(ours.size()) : "";
}

} // namespace

std::string bridgeLinuxLibrary() {
    return variable(winebridge::kLinuxLibraryVariable);
}

std::string bridgeFailure() {
    return variable(winebridge::kFailureVariable);
}

#else

std::string bridgeLinuxLibrary() {
    return "";
}

std::string bridgeFailure() {
    return "";
}

#endif

} // namespace zef

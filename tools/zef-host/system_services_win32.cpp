#include "system_services.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace zef::host {

namespace {

std::atomic<bool>* stopFlag = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // The second one goes on to the default handler, which ends the process.
        return stopFlag->exchange(true) ? FALSE : TRUE;
    }
    // The console window is closing: Windows ends the process as soon as this
    // returns, so hold it while the main thread finishes the files. Returning
    // from main ends the process, or Windows does after its grace period.
    stopFlag->store(true);
    Sleep(INFINITE);
    return TRUE;
}

std::wstring widen(const std::string& text, UINT codePage) {
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& text, UINT codePage) {
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

} // namespace

std::filesystem::path executableDir(const char* argv0) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    if (length > 0 && length < MAX_PATH * 4) {
        return std::filesystem::path(std::wstring(buffer, length)).parent_path();
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(pathFromNative(argv0), ec);
    return ec ? std::filesystem::path(".") : absolute.parent_path();
}

std::filesystem::path pathFromNative(const std::string& text) {
    return widen(text, CP_ACP);
}

std::string nativeFromPath(const std::filesystem::path& path) {
    return narrow(path.native(), CP_ACP);
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void useBinaryStdout() {
    _setmode(_fileno(stdout), _O_BINARY);
}

bool seekFile(std::FILE* file, std::uint64_t offset, int origin) {
    return _fseeki64(file, static_cast<__int64>(offset), origin) == 0;
}

std::string utf8FromNative(const std::string& text) {
    return narrow(widen(text, CP_ACP), CP_UTF8);
}

std::string libraryLoadError() {
    const DWORD code = GetLastError();
    if (code == ERROR_BAD_EXE_FORMAT) {
        return sizeof(void*) == 8 ? "it is not a 64-bit DLL, and this zef-host.exe is 64-bit"
                                  : "it is not a 32-bit DLL, and this zef-host.exe is 32-bit";
    }
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == '.' || text[length - 1] == ' ')) {
        --length;
    }
    return length > 0 ? std::string(text, length) : "Windows error " + std::to_string(code);
}

void installStopHandlers(std::atomic<bool>& stopRequested) {
    stopFlag = &stopRequested;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace zef::host

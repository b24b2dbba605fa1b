#include "system_services.h"

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

} // namespace

std::filesystem::path executableDir(const char* argv0) {
    char buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) {
        return std::filesystem::path(std::string(buffer, length)).parent_path();
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(argv0, ec);
    return ec ? std::filesystem::path(".") : absolute.parent_path();
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

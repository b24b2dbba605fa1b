// What zef-host needs from the operating system beyond the core's platform
// layer: POSIX and Win32 behind one header (system_services_posix.cpp,
// system_services_win32.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace zef::host {

// The folder of the running program, for files that lie beside it; `argv0`
// is the fallback where the system cannot tell.
std::filesystem::path executableDir(const char* argv0);

// Paths as the command line, fopen and the library loader take them (on
// Windows in the ANSI code page, which std::filesystem does not convert
// from or to).
std::filesystem::path pathFromNative(const std::string& text);
std::string nativeFromPath(const std::filesystem::path& path);

// Whether progress may redraw one line in place.
bool stderrIsTerminal();

// Samples on standard output go out byte for byte (no CR LF on Windows).
void useBinaryStdout();

// Seeks to `offset` from `origin` (SEEK_SET, SEEK_END), beyond 2 GiB too.
bool seekFile(std::FILE* file, std::uint64_t offset, int origin);

// A native path or name in UTF-8, for JSON.
std::string utf8FromNative(const std::string& text);

// Why the last library load failed, in the system's words.
std::string libraryLoadError();

// Ctrl-C (and SIGTERM, a closed console window) raises `stopRequested` so the
// recording ends with valid files; a second Ctrl-C ends the program at once,
// should shutdown hang. A reader of standard output that goes away shows up
// as a write error, not as a signal.
void installStopHandlers(std::atomic<bool>& stopRequested);

} // namespace zef::host

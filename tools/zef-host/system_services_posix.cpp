#include "system_services.h"

#include <csignal>
#include <dlfcn.h>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>

namespace zef::host {

namespace {

std::atomic<bool>* stopFlag = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    stopFlag->store(true);
    std::signal(signal, SIG_DFL);
}

} // namespace

std::filesystem::path executableDir(const char* argv0) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.parent_path();
    }
    const auto absolute = std::filesystem::absolute(argv0, ec);
    return ec ? std::filesystem::path(".") : absolute.parent_path();
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

void useBinaryStdout() {}

bool seekFile(std::FILE* file, std::uint64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::filesystem::path pathFromNative(const std::string& text) {
    return text;
}

std::string nativeFromPath(const std::filesystem::path& path) {
    return path.string();
}

std::string utf8FromNative(const std::string& text) {
    return text;
}

std::string libraryLoadError() {
    const char* reason = dlerror();
    return reason != nullptr ? reason : "unknown reason";
}

void installStopHandlers(std::atomic<bool>& stopRequested) {
    stopFlag = &stopRequested;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace zef::host

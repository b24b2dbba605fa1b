#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zef::gateware {

namespace fs = std::filesystem;

namespace {

std::string processId() {
#if defined(_WIN32)
    return std::to_string(GetCurrentProcessId());
#else
    return std::to_string(getpid());
#endif
}

// std::filesystem::rename does not replace an existing file on every
// Windows runtime.
bool replaceFile(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

std::vector<std::uint8_t> readFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return {};
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read " + path;
        return {};
    }
    error.clear();
    return bytes;
}

std::string writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                const std::string& like) {
    const std::string temporary = path + ".zef-gateware-" + processId() + ".tmp";
    std::error_code ec;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (file) {
            file.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            file.close();
        }
        if (!file) {
            fs::remove(temporary, ec);
            return "cannot write " + temporary;
        }
    }
    const fs::file_status model = fs::status(like, ec);
    if (!ec && fs::exists(model)) {
        fs::permissions(temporary, model.permissions(), ec);
    }
    if (!replaceFile(temporary, path)) {
        fs::remove(temporary, ec);
        return "cannot replace " + path;
    }
    return {};
}

} // namespace zef::gateware

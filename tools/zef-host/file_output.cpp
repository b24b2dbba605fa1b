#include "file_output.h"

#include "system_services.h"

#include <cerrno>
#include <cstring>

namespace zef::host {

OutputFile::~OutputFile() {
    if (file_ != nullptr && file_ != stdout) {
        std::fclose(file_);
    }
}

bool OutputFile::open(const std::string& path) {
    path_ = path;
    if (path == "-") {
        useBinaryStdout();
        file_ = stdout;
        stdout_ = true;
        return true;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        return fail("create");
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (file_ == nullptr) {
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
        return fail("write");
    }
    return true;
}

bool OutputFile::patch(std::uint64_t offset, const void* data, std::size_t size) {
    if (file_ == nullptr || std::fflush(file_) != 0) {
        return fail("write");
    }
    if (!seekFile(file_, offset, SEEK_SET)) {
        return fail("seek in");
    }
    const bool written = std::fwrite(data, 1, size, file_) == size;
    if (!written || !seekFile(file_, 0, SEEK_END)) {
        return fail("write");
    }
    return true;
}

bool OutputFile::close() {
    if (file_ == nullptr) {
        return error_.empty();
    }
    std::FILE* file = file_;
    file_ = nullptr;
    if (file == stdout) {
        return std::fflush(file) == 0 || fail("write");
    }
    const bool flushed = std::fflush(file) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!flushed) {
        errno = flushErrno;
    }
    return (flushed && closed) || fail("write");
}

bool OutputFile::fail(const char* action) {
    const int code = errno;
    if (stdout_ && code == EPIPE) {
        pipeClosed_ = true;
    }
    const std::string name = path_ == "-" ? "standard output" : path_;
    error_ = std::string("cannot ") + action + " " + name + ": " + std::strerror(code);
    return false;
}

} // namespace zef::host

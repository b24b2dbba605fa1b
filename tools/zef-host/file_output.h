// A file opened for writing whose every failure becomes a message naming the
// file and the reason, so a full disk is never a silently short recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zef::host {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // "-" is standard output (switched to binary mode on Windows).
    bool open(const std::string& path);
    bool write(const void* data, std::size_t size);
    // Overwrites bytes at `offset`, then returns to the end.
    bool patch(std::uint64_t offset, const void* data, std::size_t size);
    // Flushes and closes; a failure of either is reported.
    bool close();

    [[nodiscard]] bool isStdout() const { return stdout_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    // The reason of the last failure, e.g. "cannot write x.wav: No space left on device".
    [[nodiscard]] const std::string& error() const { return error_; }
    // The consumer of standard output went away (a closed pipe): an end, not a fault.
    [[nodiscard]] bool pipeClosed() const { return pipeClosed_; }

  private:
    bool fail(const char* action);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    bool pipeClosed_ = false;
    bool stdout_ = false;
};

} // namespace zef::host

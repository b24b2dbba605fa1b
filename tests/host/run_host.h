// Runs zef-host as a process with its output caught in files
// (run_host_posix.cpp, run_host_win32.cpp).
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace zef::test {

struct HostRun {
    int exitCode = -1;
    std::string out; // bytes
    std::string err;
};

unsigned long currentProcessId();

// A file name with a non-ASCII letter as the system's narrow calls take it
// (on Windows in the ANSI code page), and the same name in UTF-8.
std::string nonAsciiNative();
inline const char* const kNonAsciiUtf8 = "J\u00fcrgen";

// A folder of its own per test, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("zef-host-") + info->test_suite_name() + "-" + info->name() + "-" +
                 std::to_string(currentProcessId()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    // `name` is appended as it is, so a name in the system's narrow encoding
    // stays one.
    [[nodiscard]] std::string file(const std::string& name) const {
        return (path_ / "").string() + name;
    }

  private:
    std::filesystem::path path_;
};

inline std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline nlohmann::json readJson(const std::string& path) {
    return nlohmann::json::parse(readText(path));
}

// Standard input is empty. When `untilInterrupt` is given, zef-host gets a
// Ctrl-C as soon as it returns.
HostRun runHost(const ScratchDir& dir, const std::vector<std::string>& args,
                const std::function<void()>& untilInterrupt = {});

} // namespace zef::test

// Runs zef-host as a process with its output caught in files.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zef::test {

struct HostRun {
    int exitCode = -1;
    std::string out; // bytes
    std::string err;
};

// A folder of its own per test, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("zef-host-") + info->test_suite_name() + "-" + info->name() + "-" +
                 std::to_string(getpid()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    [[nodiscard]] std::string file(const std::string& name) const {
        return (path_ / name).string();
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

// `whileRunning` gets the child's pid (to send it signals) before the wait.
inline HostRun runHost(const ScratchDir& dir, const std::vector<std::string>& args,
                       const std::function<void(pid_t)>& whileRunning = {}) {
    const std::string outPath = dir.file("stdout");
    const std::string errPath = dir.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all{ZEF_HOST_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    HostRun run;
    const int spawned = posix_spawn(&pid, ZEF_HOST_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << ZEF_HOST_EXE;
        return run;
    }
    if (whileRunning) {
        whileRunning(pid);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

} // namespace zef::test

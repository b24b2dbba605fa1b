#include "run_host.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zef::test {

std::string nonAsciiNative() {
    return kNonAsciiUtf8;
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(getpid());
}

HostRun runHost(const ScratchDir& dir, const std::vector<std::string>& args,
                const std::function<void()>& untilInterrupt) {
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
    if (untilInterrupt) {
        untilInterrupt();
        kill(pid, SIGINT);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

} // namespace zef::test

#include "wine_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zef::winetest {

namespace {

std::string nameOf(const std::string& variable) {
    return variable.substr(0, variable.find('='));
}

// The test's environment without what the wanted entries replace, then them.
std::vector<std::string> environmentWith(const std::vector<std::string>& wanted) {
    std::vector<std::string> env;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        bool replaced = nameOf(entry) == "LD_PRELOAD" || nameOf(entry) == "UMOCKDEV_DIR";
        for (const std::string& added : wanted) {
            replaced = replaced || nameOf(added) == nameOf(entry);
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), wanted.begin(), wanted.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& text : strings) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

WineProcess::WineProcess(const std::string& loader, const std::string& folder,
                         const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env)
    : errPath_(folder + "/stderr-" + std::to_string(getpid()) + "-" +
               std::to_string(reinterpret_cast<std::uintptr_t>(this))) {
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<std::string> argv{loader, program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = environmentWith(env);
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(envp);
    if (posix_spawn(&pid_, loader.c_str(), &actions, nullptr, argvPointers.data(),
                    envPointers.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    reader_ = std::thread(&WineProcess::readLines, this, pipeFds[0]);
}

WineProcess::~WineProcess() {
    finish(std::chrono::seconds(0));
    reader_.join();
}

void WineProcess::readLines(int fd) {
    std::string partial;
    char chunk[512];
    ssize_t got = 0;
    while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        partial.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        std::size_t end = 0;
        while ((end = partial.find('\n')) != std::string::npos) {
            std::string line = partial.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            partial.erase(0, end + 1);
            const std::lock_guard guard(lock_);
            lines_.push_back(line);
            changed_.notify_all();
        }
    }
    close(fd);
    const std::lock_guard guard(lock_);
    if (!partial.empty()) {
        lines_.push_back(partial);
    }
    ended_ = true;
    changed_.notify_all();
}

std::string WineProcess::waitForLine(const std::string& prefix, std::chrono::seconds limit) {
    std::unique_lock lock(lock_);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (; next_ < lines_.size(); ++next_) {
            if (lines_[next_].rfind(prefix, 0) == 0) {
                return lines_[next_++];
            }
        }
        if (ended_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return "";
        }
    }
}

int WineProcess::finish(std::chrono::seconds limit) {
    if (pid_ <= 0) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status_ = -1;
    } else {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_ = -1;
    return status_;
}

std::string WineProcess::output() const {
    const std::lock_guard guard(lock_);
    std::string all;
    for (const std::string& line : lines_) {
        all += line + "\n";
    }
    return all;
}

std::string WineProcess::errors() const {
    std::ifstream file(errPath_, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void startWineServer(const std::string& loader) {
    std::vector<std::string> env = environmentWith({});
    std::vector<char*> envPointers = pointers(env);
    const auto run = [&](std::vector<std::string> argv) {
        std::vector<char*> argvPointers = pointers(argv);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const int fd : {0, 1, 2}) {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                             fd == 0 ? O_RDONLY : O_WRONLY, 0);
        }
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(),
                         envPointers.data()) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
        }
        posix_spawn_file_actions_destroy(&actions);
    };
    // Persistent until a minute after its last client; starting one while one
    // runs changes nothing.
    run({"wineserver", "-p60"});
    run({loader, "cmd", "/c", "exit"});
}

} // namespace zef::winetest

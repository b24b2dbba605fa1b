// A Windows program run under Wine from a Linux test: its standard output
// read line by line as it comes, its standard error kept in a file, its
// environment the test's own with the given variables replaced.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace zef::winetest {

class WineProcess {
  public:
    // Runs `loader program args...` in `folder`. `env` entries are NAME=VALUE.
    WineProcess(const std::string& loader, const std::string& folder, const std::string& program,
                const std::vector<std::string>& args, const std::vector<std::string>& env);
    ~WineProcess();
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;

    // The first line from `after` on that begins with `prefix`, or "" when
    // the program ended or the time ran out first. `after` becomes the index
    // after it.
    std::string waitForLine(const std::string& prefix, std::chrono::seconds limit);
    // The exit status; the program is killed after `limit` (status -1).
    int finish(std::chrono::seconds limit);

    [[nodiscard]] std::string output() const; // every line so far
    [[nodiscard]] std::string errors() const; // standard error so far

  private:
    void readLines(int fd);

    std::string errPath_;
    pid_t pid_ = -1;
    int status_ = -1;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_; // under lock_
    bool ended_ = false;             // under lock_: the output closed
    std::size_t next_ = 0;
    std::thread reader_;
};

// Wine's server for the prefix, started once without the test bed's preload
// library, with the prefix's own processes, which would otherwise inherit it.
void startWineServer(const std::string& loader);

} // namespace zef::winetest

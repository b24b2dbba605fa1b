// zef_bridge_bed [--product TEXT]... -- PROGRAM [ARGS...]
// Runs PROGRAM with FT232R-like bridges emulated at usbdevfs (one ZEF418 by
// default, one per --product otherwise, at bus 1, ports 1, 2, ...), so that
// an installed package can be tried with the real libusb and no hardware.
// Exits with PROGRAM's status.
#include "usb_testbed.h"

#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    std::vector<std::string> products;
    int at = 1;
    for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
        if (std::strcmp(argv[at], "--product") == 0 && at + 1 < argc) {
            products.emplace_back(argv[++at]);
        } else {
            std::fprintf(stderr, "usage: %s [--product TEXT]... -- PROGRAM [ARGS...]\n", argv[0]);
            return 2;
        }
    }
    if (at + 1 >= argc) {
        std::fprintf(stderr, "usage: %s [--product TEXT]... -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    if (products.empty()) {
        products.emplace_back("ZEF418");
    }
    zef::usbtest::UsbTestbed bed;
    for (std::size_t i = 0; i < products.size(); ++i) {
        bed.plug(1, static_cast<std::uint8_t>(i + 1), products[i]);
    }
    std::vector<std::string> env;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        env.emplace_back(*variable);
    }
    for (const std::string& added : bed.childEnvironment()) {
        env.push_back(added);
    }
    std::vector<char*> envp;
    for (std::string& variable : env) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[at + 1], nullptr, nullptr, argv + at + 1, envp.data()) != 0) {
        std::fprintf(stderr, "%s: cannot start %s\n", argv[0], argv[at + 1]);
        return 127;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

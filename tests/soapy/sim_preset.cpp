// Preloaded next to the simulated driver, this sets the simulator up from the
// environment, for programs that cannot call its control functions
// themselves (SoapySDRUtil):
//   ZEF_TEST_SIM_DEVICES  description@location, comma-separated
//                         ("ZEF418@0x2101,FT232R USB UART@0x1001")
//   ZEF_TEST_SIM_TIMING   "realtime" for the wire rate, else as fast as read
//   ZEF_TEST_SIM_SETTINGS_OUT  a file that gets, when the program ends, the
//                         count of settings frames received and the last one
//                         in hex ("3 3e0310..."), for tests whose program
//                         runs where they cannot call the simulator (a
//                         SoapySDRServer)
//   ZEF_TEST_SIM_CONTROL  a named pipe; the lines "unplug" and "replug"
//                         written to it pull and put back the first device
#include "sim/zef_sim.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

void addDevice(const std::string& entry) {
    const std::size_t at = entry.rfind('@');
    if (at == std::string::npos) {
        return;
    }
    const auto location =
        static_cast<std::uint32_t>(std::strtoul(entry.c_str() + at + 1, nullptr, 0));
    zefsim_add_device(entry.substr(0, at).c_str(), location, 0, 0);
}

// Blocks on the pipe, so it costs nothing until a test writes to it.
void obeyControl(std::string path) {
    for (;;) {
        std::ifstream pipe(path);
        for (std::string line; std::getline(pipe, line);) {
            if (line == "unplug") {
                zefsim_unplug(0);
            } else if (line == "replug") {
                zefsim_replug(0);
            }
        }
        if (!pipe.is_open()) {
            return;
        }
    }
}

struct Preset {
    Preset() {
        if (const char* control = std::getenv("ZEF_TEST_SIM_CONTROL")) {
            std::thread(obeyControl, std::string(control)).detach();
        }
        if (const char* devices = std::getenv("ZEF_TEST_SIM_DEVICES")) {
            std::string list = devices;
            std::size_t from = 0;
            while (from <= list.size()) {
                const std::size_t comma = list.find(',', from);
                addDevice(list.substr(from, comma == std::string::npos ? comma : comma - from));
                if (comma == std::string::npos) {
                    break;
                }
                from = comma + 1;
            }
        }
        const char* timing = std::getenv("ZEF_TEST_SIM_TIMING");
        if (timing != nullptr && std::strcmp(timing, "realtime") == 0) {
            zefsim_set_timing(ZEFSIM_REALTIME);
        }
    }
    ~Preset() {
        const char* path = std::getenv("ZEF_TEST_SIM_SETTINGS_OUT");
        if (path == nullptr) {
            return;
        }
        std::uint8_t frame[65] = {};
        const std::uint64_t count = zefsim_last_settings(frame);
        if (std::FILE* out = std::fopen(path, "w")) {
            std::fprintf(out, "%llu ", static_cast<unsigned long long>(count));
            for (const std::uint8_t byte : frame) {
                std::fprintf(out, "%02x", byte);
            }
            std::fprintf(out, "\n");
            std::fclose(out);
        }
    }
    Preset(const Preset&) = delete;
    Preset& operator=(const Preset&) = delete;
};

const Preset preset;

} // namespace

// Preloaded next to the simulated driver, this sets the simulator up from the
// environment, for programs that cannot call its control functions
// themselves (SoapySDRUtil):
//   ZEF_TEST_SIM_DEVICES  description@location, comma-separated
//                         ("ZEF418@0x2101,FT232R USB UART@0x1001")
//   ZEF_TEST_SIM_TIMING   "realtime" for the wire rate, else as fast as read
#include "sim/zef_sim.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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

struct Preset {
    Preset() {
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
};

const Preset preset;

} // namespace

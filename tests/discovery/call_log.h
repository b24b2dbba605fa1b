// Reads the simulated driver's log of port calls.
#pragma once

#include "sim/zef_sim.h"

#include <sstream>
#include <string>
#include <vector>

namespace zef::test {

inline std::vector<std::string> callLog() {
    const std::size_t size = zefsim_call_log(nullptr, 0);
    std::string text(size + 1, '\0');
    zefsim_call_log(text.data(), text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The lines from the first one that starts with `first`, on.
inline std::vector<std::string> callsFrom(const std::string& first) {
    const std::vector<std::string> all = callLog();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].rfind(first, 0) == 0) {
            return {all.begin() + static_cast<std::ptrdiff_t>(i), all.end()};
        }
    }
    return {};
}

inline bool logHas(const std::string& prefix) {
    for (const std::string& line : callLog()) {
        if (line.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace zef::test

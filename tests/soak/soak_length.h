// How long a soak runs: ZEF_SOAK_SECONDS, 8 s by default (the CI's).
#pragma once

#include <cstdlib>

namespace zef::test {

inline int soakSeconds() {
    const char* text = std::getenv("ZEF_SOAK_SECONDS");
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : 8;
}

} // namespace zef::test

// What the instrument streams: I/Q pairs at a fixed rate, 512 to a sample
// frame. The plug-in, the front ends and the simulated instrument all take
// these from here.
#pragma once

#include <cstdint>

namespace zef {

inline constexpr std::int32_t kSampleRate = 65104; // I/Q pairs per second
inline constexpr int kBlockPairs = 512;            // pairs per sample frame and per callback

} // namespace zef

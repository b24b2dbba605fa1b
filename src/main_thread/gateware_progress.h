// How far the worker has come with the gateware: when the last load began,
// when its start command went out, and how it ended. Written by the worker,
// read by front ends to report progress and durations.
#pragma once

#include <atomic>
#include <cstdint>

namespace zef {

enum class GatewarePhase : std::uint8_t {
    NotLoaded,
    Loading,       // program pulse and image going out
    AwaitingReady, // start command sent, waiting for the ready status
    Ready,
    NotReady, // the ready wait ran out
    Failed,   // a write failed (or a terminate request came) during the load
};

struct GatewareProgress {
    GatewarePhase phase = GatewarePhase::NotLoaded;
    std::uint32_t loads = 0; // loads begun since the process started
    std::uint64_t startedUs = 0;
    std::uint64_t imageSentUs = 0; // 0 until the start command went out
    std::uint64_t endedUs = 0;     // 0 until the load ended
};

// Worker thread only.
void noteGatewareLoadBegins();
void noteGatewareImageSent();
void noteGatewareLoadEnds(bool loaded, bool ready);

// A consistent copy: never half of one load and half of the next.
GatewareProgress gatewareProgress();

} // namespace zef

#include "gateware_progress.h"

#include "platform/platform.h"

namespace zef {

namespace {

// Written by the worker alone, read from any thread: a short lock keeps a
// reader from mixing two loads.
platform::Mutex lock;
GatewareProgress progress;

} // namespace

void noteGatewareLoadBegins() {
    const std::uint64_t now = platform::nowMicroseconds();
    platform::LockGuard guard(lock);
    progress.phase = GatewarePhase::Loading;
    ++progress.loads;
    progress.startedUs = now;
    progress.imageSentUs = 0;
    progress.endedUs = 0;
}

void noteGatewareImageSent() {
    const std::uint64_t now = platform::nowMicroseconds();
    platform::LockGuard guard(lock);
    progress.phase = GatewarePhase::AwaitingReady;
    progress.imageSentUs = now;
}

void noteGatewareLoadEnds(bool loaded, bool ready) {
    const std::uint64_t now = platform::nowMicroseconds();
    platform::LockGuard guard(lock);
    if (!loaded) {
        progress.phase = GatewarePhase::Failed;
    } else {
        progress.phase = ready ? GatewarePhase::Ready : GatewarePhase::NotReady;
    }
    progress.endedUs = now;
}

GatewareProgress gatewareProgress() {
    platform::LockGuard guard(lock);
    return progress;
}

} // namespace zef

// The sixteen ExtIO exports. Nothing below them throws on purpose, but no C++
// exception may ever reach the host, so each one is fenced.
#include "extio_api.h"

#include "device_state.h"
#include "entry_points.h"

namespace {

template <typename Result, typename Body> Result fenced(Result fallback, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <typename Body> void fenced(Body body) noexcept {
    try {
        body();
    } catch (...) { // NOLINT(bugprone-empty-catch): the host must never see it
    }
}

} // namespace

extern "C" {

bool EXTIO_CALL InitHW(char* name, char* model, int* type) {
    return fenced(true, [&] { return zef::initHW(name, model, type); });
}

bool EXTIO_CALL OpenHW() {
    return true;
}

int EXTIO_CALL StartHW(std::int32_t freq) {
    return fenced(zef::kBlockPairs, [&] { return zef::startHW(freq); });
}

int EXTIO_CALL GetStatus() {
    return 0;
}

void EXTIO_CALL StopHW() {
    zef::stopHW();
}

void EXTIO_CALL CloseHW() {
    fenced([] { zef::closeHW(); });
}

int EXTIO_CALL SetHWLO(std::int32_t freq) {
    return fenced(0, [&] { return zef::setHWLO(freq); });
}

std::int32_t EXTIO_CALL GetHWLO() {
    return zef::getHWLO();
}

std::int32_t EXTIO_CALL GetHWSR() {
    return zef::kSampleRate;
}

void EXTIO_CALL IFLimitsChanged(std::int32_t /*low*/, std::int32_t /*high*/) {}

void EXTIO_CALL TuneChanged(std::int32_t freq) {
    fenced([&] { zef::tuneChanged(freq); });
}

void EXTIO_CALL ModeChanged(char mode) {
    fenced([&] { zef::modeChanged(mode); });
}

void EXTIO_CALL SetCallback(ExtIOCallback callback) {
    zef::setCallback(callback);
}

void EXTIO_CALL ShowGUI() {}

void EXTIO_CALL HideGUI() {}

void EXTIO_CALL RawDataReady(std::int32_t /*rate*/, int* /*left*/, int* /*right*/, int /*count*/) {}

} // extern "C"

#if !defined(_WIN32)
// A host may unload the plug-in without CloseHW: stop the worker before its
// code goes away. (On Windows the running worker pins the module instead.)
// At exit this runs too late, after the static objects: the entry points
// register an exit handler of their own for that.
__attribute__((destructor)) static void stopOnUnload() {
    fenced([] { zef::releaseOnUnload(); });
}
#endif

#include "simulated_instrument.h"

#include "system_services.h"

#include <filesystem>

namespace zef::host {

namespace {

template <typename Function>
bool resolve(platform::Library library, Function& function, const char* name, std::string& error) {
    function = reinterpret_cast<Function>(platform::findSymbol(library, name));
    if (function == nullptr && error.empty()) {
        error = std::string("the simulator library lacks ") + name;
    }
    return function != nullptr;
}

} // namespace

bool SimulatedInstrument::load(const std::string& path, std::string& error) {
    if (!std::filesystem::exists(pathFromNative(path))) {
        error = "no simulator library at " + path + " (build it, or give --sim-library)";
        return false;
    }
    library_ = platform::loadLibrary(path.c_str());
    if (library_ == nullptr) {
        const std::string reason = libraryLoadError();
        error = "cannot load the simulator library " + path + ": " + reason;
        return false;
    }
    error.clear();
    resolve(library_, reset_, "zefsim_reset", error);
    resolve(library_, addDevice_, "zefsim_add_device", error);
    resolve(library_, setTiming_, "zefsim_set_timing", error);
    resolve(library_, setSignal_, "zefsim_set_signal", error);
    resolve(library_, setFault_, "zefsim_set_fault", error);
    resolve(library_, getCounters_, "zefsim_get_counters", error);
    return error.empty();
}

void SimulatedInstrument::configure(const SimulatorSettings& settings) const {
    reset_();
    addDevice_("ZEF418", kSimulatedLocation, 0, 0);
    setTiming_(ZEFSIM_REALTIME);
    setSignal_(settings.testPattern ? ZEFSIM_TEST_PATTERN : ZEFSIM_SIGNAL, settings.carrierHz,
               settings.amplitude);
    setFault_(ZEFSIM_CORRUPT_RATE, settings.corruptRate);
    setFault_(ZEFSIM_DROP_RATE, settings.dropRate);
}

zefsim_counters SimulatedInstrument::counters() const {
    zefsim_counters c{};
    if (getCounters_ != nullptr) {
        getCounters_(&c);
    }
    return c;
}

} // namespace zef::host

// The simulated ZEF418, loaded by full path before the plug-in so that the
// plug-in's bare-name driver load finds it already in the process, and set up
// through its zefsim_ control functions.
#pragma once

#include "platform/platform.h"
#include "sim/zef_sim.h"

#include <string>

namespace zef::host {

struct SimulatorSettings {
    bool testPattern = false; // else a carrier
    double carrierHz = 0.0;
    double amplitude = 0.0; // counts of full scale 32767
    double corruptRate = 0.0;
    double dropRate = 0.0;
};

inline constexpr std::uint32_t kSimulatedLocation = 0x1101;

class SimulatedInstrument {
  public:
    SimulatedInstrument() = default;
    // Unload only after the plug-in is gone: it may still hold the driver.
    ~SimulatedInstrument() { platform::freeLibrary(library_); }
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

    bool load(const std::string& path, std::string& error);
    // One ZEF418 on the list, real-time wire, the chosen signal and faults.
    void configure(const SimulatorSettings& settings) const;
    [[nodiscard]] zefsim_counters counters() const;

  private:
    platform::Library library_ = nullptr;
    decltype(&zefsim_reset) reset_ = nullptr;
    decltype(&zefsim_add_device) addDevice_ = nullptr;
    decltype(&zefsim_set_timing) setTiming_ = nullptr;
    decltype(&zefsim_set_signal) setSignal_ = nullptr;
    decltype(&zefsim_set_fault) setFault_ = nullptr;
    decltype(&zefsim_get_counters) getCounters_ = nullptr;
};

} // namespace zef::host

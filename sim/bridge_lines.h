// What the bridge does with the bytes the host writes, whichever driver
// carries them: in the normal mode they leave on the UART for the gateware's
// command receiver; in asynchronous bit-bang mode each byte drives the pins of
// the FPGA's configuration port.
#pragma once

#include "sim/environment.h"
#include "sim/instrument.h"

#include <cstddef>
#include <cstdint>

namespace zef::sim {

struct BridgeLines {
    bool bitBang = false;
    std::uint8_t bitMask = 0xFF; // the pins driven in bit-bang mode

    void write(Instrument& instrument, Environment& env, const std::uint8_t* bytes, std::size_t n,
               std::uint64_t nowUs) const;
    // Bit mode 1 (asynchronous bit-bang) or 0 (back to the UART).
    void setBitMode(Instrument& instrument, Environment& env, std::uint8_t mask, std::uint8_t mode);
};

} // namespace zef::sim

// The simulator's configuration file (zefsim.conf), for programs that know
// nothing of the control interface. One setting per line, "key = value";
// "#" starts a comment. Keys (any order; later lines win, `device` adds):
//
//   device = DESCRIPTION [@ LOCATION] [held] [cts]   a listed device; the
//            first such line replaces the default ZEF418; "device = none"
//            lists none
//   timing = realtime | fast
//   signal = carrier | pattern
//   carrier = +1000 | -250 | 7051000 | 7.051M   signed: offset from the LO
//            the plug-in tunes; unsigned: a fixed frequency (k and M units)
//   amplitude = COUNTS                           0 to 32767
//   model = NUMBER                               the status frames' model
//   calibration_a, calibration_b = 62 or 64 bytes in hex   with 62 the
//            CRC is appended; with 64 they are sent as given
//   corrupt_rate, drop_rate = PROBABILITY        per byte sent
//   write_limit, fail_writes, zero_writes = COUNT
//   never_ready, never_ack = yes | no
//   gateware_startup_ms = COUNT                  0 to 60000
//   transfer_size = BYTES    the driver's USB transfers, status bytes
//            included: a multiple of 64 from 64 to 65536
//   receive_capacity = BYTES                     4096 to 67108864 (64 MiB)
//
// Without a file: one "ZEF418" at 0x2101, real time, a carrier of amplitude
// 16384 at 1 kHz above the LO, a gateware that needs 20 ms after its start
// command, 4096-byte transfers and a 4 MiB receive buffer.
#pragma once

#include "sim/environment.h"
#include "sim/zef_sim.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zef::sim {

// A real gateware needs a moment after its start command (its clocks lock)
// before it listens; only the control interface starts from 0.
inline constexpr std::uint32_t kDefaultGatewareStartupMs = 20;
inline constexpr std::uint32_t kMaxGatewareStartupMs = 60000;

struct ConfiguredDevice {
    std::string description;
    std::uint32_t location = 0;
    bool held = false;
    bool cts = false;
};

struct SimConfig {
    std::vector<ConfiguredDevice> devices{{"ZEF418", 0x2101}};
    int timing = ZEFSIM_REALTIME;
    int signal = ZEFSIM_SIGNAL;
    double carrierHz = 1000.0;
    bool carrierFollowsLo = true; // carrierHz is then the offset from the LO
    double amplitude = 16384.0;
    std::uint16_t model = 0;
    std::optional<std::array<std::uint8_t, 64>> calibrationA;
    std::optional<std::array<std::uint8_t, 64>> calibrationB;
    std::vector<std::pair<int, double>> faults; // zefsim_fault, value
    std::uint32_t gatewareStartupMs = kDefaultGatewareStartupMs;
    std::uint32_t transferBytes = kDefaultTransferBytes;
    std::uint32_t receiveCapacity = kDefaultReceiveCapacity;
};

// Reads `text`; each bad line adds one message naming `source` and the line
// to `messages` and is skipped, the others still apply.
SimConfig parseSimConfig(std::string_view text, const std::string& source,
                         std::vector<std::string>& messages);

} // namespace zef::sim

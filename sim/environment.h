// What every simulated device shares: timing, signal, model, calibration,
// faults, counters and what the tests read back. Guarded by the simulator's
// lock.
#pragma once

#include "sim/prng.h"
#include "sim/zef_sim.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::sim {

struct Faults {
    double corruptRate = 0.0;
    double dropRate = 0.0;
    std::uint32_t writeLimit = 0;
    std::uint32_t failWrites = 0;
    std::uint32_t zeroWrites = 0;
    bool neverReady = false;
    bool neverAck = false;
};

struct SignalConfig {
    int kind = ZEFSIM_TEST_PATTERN;
    double carrierHz = 0.0;
    double amplitude = 0.0;
    bool followsLo = false; // carrierHz is then the offset from the LO
};

// When each of the last sample frames became readable.
class FrameTimes {
  public:
    void record(std::uint64_t frame, std::uint64_t timeUs) {
        slots_[frame % kKept] = Slot{frame, timeUs};
    }
    [[nodiscard]] std::uint64_t find(std::uint64_t frame) const {
        const Slot& slot = slots_[frame % kKept];
        return slot.frame == frame ? slot.timeUs : 0;
    }
    void clear() { slots_.fill(Slot{}); }

  private:
    static constexpr std::size_t kKept = 4096;
    struct Slot {
        std::uint64_t frame = UINT64_MAX;
        std::uint64_t timeUs = 0;
    };
    std::array<Slot, kKept> slots_{};
};

// The driver's receive side in real time (sim/receive_transfers.h).
// FTDI's defaults: 4096-byte IN transfers, and no read time-out before
// FT_SetTimeouts (FT_Read "does not return until" all its bytes are read,
// as the D2XX Programmer's Guide has it); a time-out of 0 means none too.
inline constexpr std::size_t kDefaultTransferBytes = 4096;
inline constexpr std::size_t kMinTransferBytes = 64;
inline constexpr std::size_t kMaxTransferBytes = 65536;
inline constexpr std::uint32_t kNoReadTimeout = 0;
// FTDI does not publish the size of its driver's buffer. Fifteen seconds of
// the instrument's stream: only a reader that has stopped loses bytes, and
// the counter says so.
inline constexpr std::size_t kDefaultReceiveCapacity = std::size_t{4} << 20U;
inline constexpr std::size_t kMinReceiveCapacity = 4096;
inline constexpr std::size_t kMaxReceiveCapacity = std::size_t{64} << 20U;

inline constexpr std::uint64_t kFaultSeed = 0x5A5A0001;
inline constexpr std::uint64_t kNoiseSeed = 0x5A5A0002;

struct Environment {
    int timing = ZEFSIM_FAST;
    SignalConfig signal;
    std::uint16_t model = 0;
    std::array<std::uint8_t, 64> calibrationA{};
    std::array<std::uint8_t, 64> calibrationB{};
    Faults faults;
    std::uint32_t gatewareStartupMs = 0;
    std::size_t transferBytes = kDefaultTransferBytes;
    std::size_t receiveCapacity = kDefaultReceiveCapacity;
    zefsim_counters counters{};
    Prng faultRng{kFaultSeed};
    Prng noiseRng{kNoiseSeed};
    std::array<std::uint8_t, 65> lastSettings{};
    std::uint64_t lastSettingsTimeUs = 0;
    std::uint32_t loWord = 0; // from the last good settings frame
    std::vector<std::uint8_t> configImage;
    FrameTimes frameTimes;
};

} // namespace zef::sim

#include "bridge_lines.h"

#include "zef/d2xx.h"

#include <algorithm>
#include <array>

namespace zef::sim {

namespace {
constexpr std::size_t kPinChunk = 4096;
} // namespace

void BridgeLines::write(Instrument& instrument, Environment& env, const std::uint8_t* bytes,
                        std::size_t n, std::uint64_t nowUs) const {
    if (!bitBang) {
        instrument.uartBytes(bytes, n, env, nowUs);
        return;
    }
    env.counters.bitbang_bytes += n;
    std::array<std::uint8_t, kPinChunk> pins{};
    for (std::size_t done = 0; done < n;) {
        const std::size_t chunk = std::min(n - done, pins.size());
        for (std::size_t i = 0; i < chunk; ++i) {
            // Lines outside the mask are inputs; the FPGA's pull-ups hold them high.
            pins[i] = static_cast<std::uint8_t>((bytes[done + i] & bitMask) | ~bitMask);
        }
        instrument.bitBangBytes(pins.data(), chunk);
        done += chunk;
    }
}

void BridgeLines::setBitMode(Instrument& instrument, Environment& env, std::uint8_t mask,
                             std::uint8_t mode) {
    if (mode == d2xx::FT_BITMODE_ASYNC_BITBANG) {
        if (!bitBang) {
            instrument.beginBitBang();
        }
        bitBang = true;
        bitMask = mask;
        return;
    }
    if (bitBang) {
        bitBang = false;
        instrument.endBitBang(env);
    }
}

} // namespace zef::sim

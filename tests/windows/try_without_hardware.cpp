// A host that knows nothing of the simulator: ExtIO_Zef.dll and the
// simulated ftd2xx.dll lie beside it, as a user copies them next to an SDR
// program, and it uses only the sixteen exports. With no configuration file
// the simulator offers one ZEF418 with a carrier 1 kHz above the LO, at each
// LO the host tunes.
#include "crash_guard.h"
#include "extio_plugin.h"
#include "fft_peak.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kPairs = 8 * 4096;
std::array<std::int16_t, 2 * kPairs> captured{};
std::atomic<std::size_t> filled{0};
std::atomic<std::size_t> blocks{0};

void EXTIO_CALLBACK_CALL onBlock(int count, int /*status*/, float /*iqOffset*/, void* data) {
    ++blocks;
    const std::size_t at = filled.load(std::memory_order_relaxed);
    if (count != 512 || at + 512 > kPairs) {
        return;
    }
    std::memcpy(captured.data() + 2 * at, data, 512 * 2 * sizeof(std::int16_t));
    filled.store(at + 512, std::memory_order_release);
}

std::string besideThisProgram(const char* name) {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

// The strongest peak's offset from the LO over one capture at `lo`.
bool carrierAt(const zef::host::ExtioExports& extio, std::int32_t lo, double& offsetHz) {
    extio.SetHWLO(lo);
    // Blocks from before the retune drain away: a third of a second's worth.
    const std::size_t retuned = blocks.load();
    for (int i = 0; i < 1000 && blocks.load() < retuned + 40; ++i) {
        Sleep(10);
    }
    filled.store(0);
    for (int i = 0; i < 1000 && filled.load(std::memory_order_acquire) < kPairs; ++i) {
        Sleep(10);
    }
    if (filled.load(std::memory_order_acquire) < kPairs) {
        std::printf("at LO %d Hz: %zu of %zu pairs arrived\n", lo, filled.load(), kPairs);
        return false;
    }
    zef::host::SpectrumAnalyzer spectrum(65104);
    spectrum.add(captured.data(), kPairs);
    const auto peak = spectrum.peak();
    offsetHz = peak ? peak->offsetHz : 0.0;
    std::printf("at LO %d Hz: strongest peak %+.1f Hz, %.1f dBFS\n", lo, offsetHz,
                peak ? peak->levelDbfs : -999.0);
    return peak && peak->levelDbfs > -20.0;
}

} // namespace

int main() {
    zef::test::failOnCrash();
    zef::host::ExtioPlugin plugin;
    std::string error;
    if (!plugin.load(besideThisProgram("ExtIO_Zef.dll"), error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    const zef::host::ExtioExports& extio = plugin.call();
    char name[64] = {};
    char model[64] = {};
    int type = 0;
    extio.SetCallback(onBlock);
    bool ok = extio.InitHW(name, model, &type) && extio.OpenHW() && extio.StartHW(7050000) == 512;
    for (const std::int32_t lo : {7050000, 14200000}) {
        double offset = 0.0;
        ok = ok && carrierAt(extio, lo, offset) && std::fabs(offset - 1000.0) < 5.0;
    }
    extio.StopHW();
    extio.CloseHW();
    std::printf(ok ? "1 passed, 0 failed\n" : "FAILED\n");
    return ok ? 0 : 1;
}

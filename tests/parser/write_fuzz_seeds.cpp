// Writes the fuzzer's seed inputs into the folder named on the command line:
// a split header followed by streams of real frames.
#include "sim/device_frames.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

namespace sim = zef::sim;
using Bytes = std::vector<std::uint8_t>;

Bytes header(std::initializer_list<std::uint16_t> cuts) {
    Bytes out{static_cast<std::uint8_t>(cuts.size())};
    for (const std::uint16_t cut : cuts) {
        out.push_back(static_cast<std::uint8_t>(cut & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(cut >> 8U));
    }
    return out;
}

void appendSamples(Bytes& out, std::uint32_t number, std::size_t preambleBytes = 24) {
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    sim::writePatternBody(body.data(), number);
    sim::appendFrame(out, sim::kSampleType, body, preambleBytes);
}

void appendStatus(Bytes& out, std::uint8_t state, bool sealB) {
    std::array<std::uint8_t, sim::kCalibrationSize> a{};
    std::array<std::uint8_t, sim::kCalibrationSize> b{};
    a.fill(0x3C);
    b.fill(0xC3);
    sim::sealBlock(a);
    if (sealB) {
        sim::sealBlock(b);
    }
    sim::appendFrame(out, sim::kStatusType, sim::statusBody(state, 0x0253, a, b));
}

bool save(const std::string& folder, const char* name, const Bytes& bytes) {
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];

    Bytes status = header({});
    appendStatus(status, 2, false);
    appendStatus(status, 1, true); // a state code that raises no flag

    Bytes samples = header({700, 1500});
    appendSamples(samples, 0);

    // Inputs stay within the fuzzer's -max_len (targets.list): two sample
    // frames and a status frame.
    Bytes mixed = header({100, 2000, 2300, 4000});
    appendStatus(mixed, 3, true);
    appendSamples(mixed, 1);
    const std::size_t corrupt = mixed.size() + 500;
    appendSamples(mixed, 2);
    mixed[corrupt] ^= 0x10U;

    Bytes longPreamble = header({26});
    appendStatus(longPreamble, 2, true);
    appendSamples(longPreamble, 3, 30);

    Bytes nested = header({90});
    std::array<std::uint8_t, sim::kSampleBodySize> body{};
    Bytes inner;
    appendStatus(inner, 2, true);
    std::copy(inner.begin(), inner.end(), body.begin() + 40);
    sim::appendFrame(nested, 0xFF, body);

    // Preambles around the 24-byte limit: 23 from 0F (ignored), 24 from 0F
    // (counts 23, ignored), 25 from 0F (counts 24), 23 from AA (ignored).
    const std::size_t preambles[][2] = {{24, 1}, {25, 1}, {26, 1}, {23, 0}};
    Bytes edges[2] = {header({3000}), header({1000})};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto [written, dropped] = preambles[i];
        Bytes frame{0x11}; // keeps the previous CRC out of the run
        appendSamples(frame, static_cast<std::uint32_t>(written), written);
        frame.erase(frame.begin() + 1, frame.begin() + 1 + static_cast<std::ptrdiff_t>(dropped));
        edges[i / 2].insert(edges[i / 2].end(), frame.begin(), frame.end());
    }

    const bool ok = save(folder, "status", status) && save(folder, "samples", samples) &&
                    save(folder, "mixed", mixed) && save(folder, "long_preamble", longPreamble) &&
                    save(folder, "nested", nested) && save(folder, "preambles_1", edges[0]) &&
                    save(folder, "preambles_2", edges[1]);
    return ok ? 0 : 1;
}

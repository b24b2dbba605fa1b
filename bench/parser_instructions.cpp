// Parses the recorded stream for callgrind, which counts the instructions of
// parseRecorded alone (see callgrind_parser.sh): a figure that stays put on a
// busy machine. Usage: zef_parser_instructions reference|fast stream|samples
// [repeats]. Prints the bytes parsed.
#include "recorded_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

constexpr std::size_t kPassBytes = 10400;

using Core = void (*)(zef::ParserState&, std::span<const std::uint8_t>,
                      const zef::platform::Thread&);

[[gnu::noinline]] void parseRecorded(Core core, std::span<const std::uint8_t> bytes,
                                     const zef::platform::Thread& worker) {
    for (std::size_t at = 0; at < bytes.size(); at += kPassBytes) {
        core(zef::parserState, bytes.subspan(at, std::min(kPassBytes, bytes.size() - at)), worker);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s reference|fast stream|samples [repeats]\n", argv[0]);
        return 2;
    }
    const bool fast = std::strcmp(argv[1], "fast") == 0;
    const bool withStatus = std::strcmp(argv[2], "stream") == 0;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 8;
    const std::vector<std::uint8_t> stream = zef_bench::recordedStream(128, withStatus);
    zef_bench::IdleWorker worker;
    zef_bench::prepareParser();
    for (int i = 0; i < repeats; ++i) {
        parseRecorded(fast ? &zef::parseBytes : &zef::parseBytesReference, stream, worker);
    }
    if (zef_bench::deliveredBlocks < std::uint64_t{128} * static_cast<unsigned>(repeats)) {
        std::fprintf(stderr, "frames were lost\n");
        return 1;
    }
    std::printf("%zu\n", stream.size() * static_cast<std::size_t>(repeats));
    return 0;
}

// Fuzzes zef-gateware's inputs: the plug-in file (its PE or ELF header and
// gateware region) and the image file (a raw stream or a .bit file with its
// header fields). The input is a 16-bit length, the plug-in file of that
// length, then the image file. `show` must read any file safely; `embed`
// either refuses with a printable reason and leaves the plug-in exactly as it
// was, or writes the stream into the region and nothing else.
#include "bitstream.h"
#include "embed.h"
#include "gateware_region.h"
#include "plugin_region.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace zef::gateware; // NOLINT(google-build-using-namespace)
using Bytes = std::vector<std::uint8_t>;

// Names the failed check's line: the harness is built optimised.
void check(bool ok, int line = __builtin_LINE()) {
    if (!ok) {
        std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
        std::abort();
    }
}

bool isPrintable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::uint32_t word(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = value << 8U | bytes[at + i];
    }
    return value;
}

// What `show` reads.
void checkShow(const Bytes& plugin) {
    std::string error;
    const PluginRegion region = findRegion(plugin, error);
    check(isPrintable(error));
    if (!error.empty()) {
        return;
    }
    check(region.length <= region.capacity);
    check(region.offset + kHeaderSize + region.capacity <= plugin.size());
    check(std::memcmp(plugin.data() + region.offset, kMarker, kMarkerSize) == 0);
    const auto image = region.image(plugin);
    check(image.size() == region.length);
    if (const auto idcode = findIdcode(image)) {
        check(isPrintable(spartan6Part(*idcode)));
    }
}

// The bytes `embed` may change: the region's flags, length and image, and
// the checksum of a PE file.
std::vector<bool> writable(const Bytes& before, const PluginRegion& region) {
    std::vector<bool> mask(before.size(), false);
    std::fill(mask.begin() + static_cast<std::ptrdiff_t>(region.offset + kFlagsOffset),
              mask.begin() +
                  static_cast<std::ptrdiff_t>(region.offset + kHeaderSize + region.capacity),
              true);
    if (region.format.find("Windows") != std::string::npos) {
        const std::size_t field = word(before, 0x3C) + 24 + 64;
        check(field + 4 <= before.size());
        std::fill(mask.begin() + static_cast<std::ptrdiff_t>(field),
                  mask.begin() + static_cast<std::ptrdiff_t>(field + 4), true);
    }
    return mask;
}

void checkEmbed(Bytes plugin, const Bytes& imageFile) {
    const Bytes before = plugin;
    std::string regionError;
    const PluginRegion region = findRegion(before, regionError);
    const Embedding embedding = embedImage(plugin, imageFile);
    check(isPrintable(embedding.error) && isPrintable(embedding.note));
    if (embedding.refused != Embedding::Refused::No) {
        check(!embedding.error.empty());
        check(plugin == before);
        check((embedding.refused == Embedding::Refused::Plugin) == !regionError.empty());
        return;
    }
    check(regionError.empty() && embedding.error.empty());
    const auto stream = embedding.image;
    check(stream.data() >= imageFile.data() &&
          stream.data() + stream.size() <= imageFile.data() + imageFile.size());
    check(checkStream(stream).empty());

    std::string error;
    const PluginRegion after = findRegion(plugin, error);
    check(error.empty());
    check(after.offset == region.offset && after.capacity == region.capacity);
    check(after.length == stream.size() && !after.placeholder());
    check(after.flags == (region.flags & ~kFlagPlaceholder));
    const auto image = after.image(plugin);
    check(std::equal(image.begin(), image.end(), stream.begin(), stream.end()));
    const std::size_t tail = region.offset + kHeaderSize + stream.size();
    check(std::all_of(plugin.begin() + static_cast<std::ptrdiff_t>(tail),
                      plugin.begin() +
                          static_cast<std::ptrdiff_t>(tail + region.capacity - stream.size()),
                      [](std::uint8_t b) { return b == 0; }));
    const std::vector<bool> mask = writable(before, region);
    check(plugin.size() == before.size());
    for (std::size_t i = 0; i < plugin.size(); ++i) {
        check(mask[i] || plugin[i] == before[i]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t rest = size - 2;
    const std::size_t pluginSize = (data[0] | static_cast<std::size_t>(data[1]) << 8U) % (rest + 1);
    const Bytes plugin(data + 2, data + 2 + pluginSize);
    const Bytes imageFile(data + 2 + pluginSize, data + size);
    checkShow(plugin);
    checkEmbed(plugin, imageFile);
    return 0;
}

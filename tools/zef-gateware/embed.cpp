#include "embed.h"

#include "bitstream.h"
#include "gateware_region.h"
#include "plugin_region.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace zef::gateware {

std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7E) {
            c = '?';
        }
    }
    return out;
}

Embedding embedImage(std::vector<std::uint8_t>& plugin, std::span<const std::uint8_t> imageFile) {
    Embedding result;
    auto refuse = [&result](Embedding::Refused which, std::string error) {
        result.refused = which;
        result.error = std::move(error);
        return result;
    };
    std::string error;
    const PluginRegion region = findRegion(plugin, error);
    if (!error.empty()) {
        return refuse(Embedding::Refused::Plugin, error);
    }
    result.image = imageFile;
    if (isBitFile(imageFile)) {
        const BitFileContent bit = readBitFile(imageFile);
        if (!bit.error.empty()) {
            return refuse(Embedding::Refused::Image, bit.error);
        }
        // The fields are the file's own text: a hostile one must not reach the
        // terminal as control sequences.
        result.note = "a Xilinx .bit file (design \"" + printable(bit.header.design) + "\", part " +
                      printable(bit.header.part) + ", " + printable(bit.header.date) + " " +
                      printable(bit.header.time) + "); its header of " +
                      std::to_string(imageFile.size() - bit.stream.size()) + " bytes is left out";
        result.image = bit.stream;
    }
    if (std::string problem = checkStream(result.image); !problem.empty()) {
        return refuse(Embedding::Refused::Image, problem);
    }
    // Inside the plug-in it would read as a second region, and neither show
    // nor embed would take the file again.
    const std::string_view marker(kMarker, kMarkerSize);
    if (std::search(result.image.begin(), result.image.end(), marker.begin(), marker.end()) !=
        result.image.end()) {
        return refuse(Embedding::Refused::Image,
                      "the image holds the marker of a gateware region (\"" + std::string(marker) +
                          "\"), which no bitstream does");
    }
    if (result.image.size() > region.capacity) {
        return refuse(Embedding::Refused::Image,
                      "the image is " + std::to_string(result.image.size()) +
                          " bytes; the plug-in has room for " + std::to_string(region.capacity));
    }
    writeImage(plugin, region, result.image);
    return result;
}

} // namespace zef::gateware

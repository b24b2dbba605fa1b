// Embedding decided in memory: every check on the image file and the plug-in
// file comes before the first byte of the plug-in changes, so a refused input
// leaves it exactly as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zef::gateware {

struct Embedding {
    enum class Refused { No, Plugin, Image };
    Refused refused = Refused::No;
    std::string error;                   // why, when refused: one line of printable text
    std::string note;                    // what was left out of a .bit file, printable
    std::span<const std::uint8_t> image; // the raw stream, inside the image file
};

// Puts the raw stream of `imageFile` (a raw stream, or a .bit file) into the
// gateware region of `plugin`, or changes nothing and says why not.
Embedding embedImage(std::vector<std::uint8_t>& plugin, std::span<const std::uint8_t> imageFile);

// `text` with every byte outside printable ASCII shown as '?'.
std::string printable(std::string_view text);

} // namespace zef::gateware

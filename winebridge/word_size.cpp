#include "word_size.h"

#include <elf.h>

#include <array>
#include <cstring>
#include <fstream>

namespace zef::winebridge {

std::optional<int> elfWordSize(const std::string& path) {
    std::array<char, EI_NIDENT> ident{};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(ident.data(), ident.size()) || std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) {
        return std::nullopt;
    }
    switch (ident[EI_CLASS]) {
    case ELFCLASS32:
        return 32;
    case ELFCLASS64:
        return 64;
    default:
        return std::nullopt;
    }
}

} // namespace zef::winebridge

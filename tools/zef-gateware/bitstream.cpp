#include "bitstream.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace zef::gateware {

namespace {

constexpr std::array<std::uint8_t, 13> kBitMagic = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                                    0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
constexpr std::array<std::uint8_t, 4> kSyncWord = {0xAA, 0x99, 0x55, 0x66};
// Type-1 packet, write, register 0x0E (IDCODE), two words.
constexpr std::uint16_t kIdcodeWrite = 0x31C2;
// Bus-width detection padding comes first; a stream that starts otherwise
// is not a raw configuration stream.
constexpr std::size_t kMinPadding = 4;

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = (value << 8U) | bytes[at + i];
    }
    return value;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

bool isBitFile(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kBitMagic.size() &&
           std::equal(kBitMagic.begin(), kBitMagic.end(), bytes.begin());
}

BitFileContent readBitFile(std::span<const std::uint8_t> bytes) {
    BitFileContent content;
    std::size_t at = kBitMagic.size();
    std::string* fields[] = {&content.header.design, &content.header.part, &content.header.date,
                             &content.header.time};
    for (char key = 'a'; key <= 'd'; ++key) {
        if (at + 3 > bytes.size() || bytes[at] != static_cast<std::uint8_t>(key)) {
            content.error = std::string("truncated .bit header: no field '") + key + "'";
            return content;
        }
        const std::size_t length = bigEndian(bytes, at + 1, 2);
        at += 3;
        if (length > bytes.size() - at) {
            content.error =
                std::string("truncated .bit header: field '") + key + "' runs past the end";
            return content;
        }
        const auto text = bytes.subspan(at, length);
        fields[key - 'a']->assign(text.begin(), std::find(text.begin(), text.end(), 0));
        at += length;
    }
    if (at + 5 > bytes.size() || bytes[at] != 'e') {
        content.error = "truncated .bit header: no stream field 'e'";
        return content;
    }
    const std::size_t length = bigEndian(bytes, at + 1, 4);
    at += 5;
    if (length > bytes.size() - at) {
        content.error = "truncated .bit file: the stream is " + std::to_string(length) +
                        " bytes, the file holds " + std::to_string(bytes.size() - at);
        return content;
    }
    content.stream = bytes.subspan(at, length);
    return content;
}

std::optional<std::uint32_t> findIdcode(std::span<const std::uint8_t> stream) {
    const auto sync = std::search(stream.begin(), stream.end(), kSyncWord.begin(), kSyncWord.end());
    if (sync == stream.end()) {
        return std::nullopt;
    }
    for (auto at = static_cast<std::size_t>(sync - stream.begin()) + kSyncWord.size();
         at + 6 <= stream.size(); at += 2) {
        if (bigEndian(stream, at, 2) == kIdcodeWrite) {
            return bigEndian(stream, at + 2, 4);
        }
    }
    return std::nullopt;
}

std::string checkStream(std::span<const std::uint8_t> stream) {
    const auto padding = static_cast<std::size_t>(
        std::find_if(stream.begin(), stream.end(), [](std::uint8_t b) { return b != 0xFF; }) -
        stream.begin());
    if (padding < kMinPadding) {
        return "not a raw Spartan-6 configuration stream: it does not start with 0xFF padding";
    }
    const auto sync = stream.subspan(padding);
    if (sync.size() < kSyncWord.size() ||
        !std::equal(kSyncWord.begin(), kSyncWord.end(), sync.begin())) {
        return "not a raw Spartan-6 configuration stream: no sync word AA 99 55 66 after the "
               "padding";
    }
    const std::optional<std::uint32_t> idcode = findIdcode(stream);
    if (!idcode) {
        return "the stream writes no IDCODE";
    }
    if (*idcode != kZef418Idcode) {
        const std::string part = spartan6Part(*idcode);
        return "wrong IDCODE " + hex32(*idcode) + (part.empty() ? "" : " (" + part + ")") +
               ": the ZEF418 has an XC6SLX9, " + hex32(kZef418Idcode);
    }
    return {};
}

std::string spartan6Part(std::uint32_t idcode) {
    static constexpr std::pair<std::uint32_t, const char*> kParts[] = {
        {0x04000093, "XC6SLX4"}, {0x04001093, "XC6SLX9"}, {0x04002093, "XC6SLX16"}};
    for (const auto& [code, name] : kParts) {
        if ((idcode & 0x0FFFFFFFU) == code) {
            return name;
        }
    }
    return {};
}

} // namespace zef::gateware

// Reads a WAV file back chunk by chunk, as a player would, without assuming
// where the writer put anything.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace zef::test {

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8U);
}
inline std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(u16At(b, at)) | static_cast<std::uint32_t>(u16At(b, at + 2))
                                                          << 16U;
}

struct WavChunk {
    std::size_t offset = 0; // of the body
    std::uint32_t size = 0;
};

struct WavFile {
    std::vector<std::uint8_t> bytes;
    std::uint32_t riffSize = 0;
    std::vector<std::string> order; // chunk ids as they come
    std::map<std::string, WavChunk> chunks;

    bool parse(const std::string& path) {
        bytes = readBytes(path);
        if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
            std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
            return false;
        }
        riffSize = u32At(bytes, 4);
        std::size_t at = 12;
        while (at + 8 <= bytes.size()) {
            const std::string id(reinterpret_cast<const char*>(bytes.data() + at), 4);
            const WavChunk chunk{at + 8, u32At(bytes, at + 4)};
            order.push_back(id);
            chunks[id] = chunk;
            at = chunk.offset + chunk.size + (chunk.size & 1U);
        }
        return true;
    }

    [[nodiscard]] std::uint16_t fmt16(std::size_t field) const {
        return u16At(bytes, chunks.at("fmt ").offset + field);
    }
    [[nodiscard]] std::uint32_t fmt32(std::size_t field) const {
        return u32At(bytes, chunks.at("fmt ").offset + field);
    }
    [[nodiscard]] std::uint32_t auxi32(std::size_t field) const {
        return u32At(bytes, chunks.at("auxi").offset + field);
    }
    // SYSTEMTIME word `word` (0 year ... 7 milliseconds) of start (0) or stop (1).
    [[nodiscard]] std::uint16_t auxiTime(int which, std::size_t word) const {
        return u16At(bytes,
                     chunks.at("auxi").offset + static_cast<std::size_t>(which) * 16 + word * 2);
    }
    [[nodiscard]] std::uint32_t centreFrequency() const { return auxi32(32); }
    [[nodiscard]] std::uint64_t pairs() const { return chunks.at("data").size / 4; }
};

} // namespace zef::test

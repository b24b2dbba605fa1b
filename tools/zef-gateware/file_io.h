// Whole-file reading, and writing that either replaces the file completely
// or leaves it as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zef::gateware {

// Empty `error` on success.
std::vector<std::uint8_t> readFile(const std::string& path, std::string& error);

// Writes a temporary file beside `path`, with the permissions of `like`
// where it exists, then renames it over `path`. On failure `path` is
// untouched and the temporary file removed; returns the reason.
std::string writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                const std::string& like);

} // namespace zef::gateware

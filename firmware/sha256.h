// SHA-256, so a user can tell which gateware a plug-in file carries and
// compare it with the file that came with the instrument.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zef {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> bytes);

// Lower-case hex, as sha256sum prints it.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace zef

// The descriptions by which the instrument's USB bridge is known. The
// plug-in's search and the Wine bridge's device list both test them.
#pragma once

namespace zef {

// The descriptions the instrument's USB bridge reports.
inline constexpr const char* kDescriptionKr27xx = "Digital Oscilloscope KR27xx";
inline constexpr const char* kDescriptionZef418 = "ZEF418";
// Relatives that are never opened, not even in the second pass.
inline constexpr const char* kDescriptionOscilloscope = "Digital Oscilloscope";
inline constexpr const char* kDescriptionKr27 = "Digital Oscilloscope KR27";

// Exact, whole-string comparisons.
bool isInstrument(const char* description);
bool isRelative(const char* description); // the instrument or one of its relatives

} // namespace zef

// SigMF metadata of a recording: ci16_le samples, one capture at sample 0.
#pragma once

#include "iq_writers.h"
#include "utc_time.h"

#include <nlohmann/json.hpp>

#include <string>

namespace zef::host {

inline constexpr const char* kSigmfVersion = "1.2.0";

nlohmann::ordered_json sigmfMeta(const RecordingInfo& info, const UtcTime& start);

// "rec", "rec.sigmf", "rec.sigmf-data" and "rec.sigmf-meta" all name the pair
// rec.sigmf-data / rec.sigmf-meta.
std::string sigmfBaseName(const std::string& path);

} // namespace zef::host

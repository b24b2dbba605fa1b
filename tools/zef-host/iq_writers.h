// Recording formats behind one interface: WAV with an auxi chunk, SigMF
// (ci16_le data plus JSON meta) and raw interleaved little-endian int16. The
// files are created by `openWriter`, before any plug-in is loaded, so that a
// path that cannot be written fails at once.
#pragma once

#include "utc_time.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zef::host {

enum class OutputFormat { None, Wav, Sigmf, Raw };

struct RecordingInfo {
    std::uint32_t sampleRate = 0; // 0 while unknown
    std::int32_t loFrequency = 0; // the centre of the recorded band
    std::string hardware;         // what the plug-in called itself
    std::string recorder;         // this program and its version
};

class IqWriter {
  public:
    virtual ~IqWriter() = default;
    // Interleaved I/Q pairs in host byte order.
    virtual bool write(const std::int16_t* iq, std::size_t pairs) = 0;
    // Completes sizes, times and metadata; the files are valid afterwards.
    virtual bool finish(const RecordingInfo& info, const UtcTime& start, const UtcTime& stop) = 0;
    [[nodiscard]] virtual const std::string& error() const = 0;
    // Standard output's reader went away: the recording simply ends.
    [[nodiscard]] virtual bool pipeClosed() const { return false; }
};

// Creates the file(s) of `format` at `path` ("-": standard output, raw only).
// Returns nullptr with `error` set on failure.
std::unique_ptr<IqWriter> openWriter(OutputFormat format, const std::string& path,
                                     const RecordingInfo& info, std::string& error);

// The format a file name suggests: .wav, .sigmf-meta/.sigmf-data/.sigmf, or
// raw for anything else (and "-").
OutputFormat formatFromPath(const std::string& path);
const char* formatName(OutputFormat format);

std::unique_ptr<IqWriter> openWavWriter(const std::string& path, const RecordingInfo& info,
                                        std::string& error);
std::unique_ptr<IqWriter> openSigmfWriter(const std::string& path, const RecordingInfo& info,
                                          std::string& error);

} // namespace zef::host

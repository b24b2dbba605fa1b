#include "iq_writers.h"

#include "file_output.h"
#include "sample_bytes.h"

#include <vector>

namespace zef::host {

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class RawWriter final : public IqWriter {
  public:
    bool open(const std::string& path) { return file_.open(path); }

    bool write(const std::int16_t* iq, std::size_t pairs) override {
        return writeLittleEndian(file_, iq, pairs, buffer_);
    }
    bool finish(const RecordingInfo& /*info*/, const UtcTime& /*start*/,
                const UtcTime& /*stop*/) override {
        return file_.close();
    }
    [[nodiscard]] const std::string& error() const override { return file_.error(); }
    [[nodiscard]] bool pipeClosed() const override { return file_.pipeClosed(); }

  private:
    OutputFile file_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace

OutputFormat formatFromPath(const std::string& path) {
    if (endsWith(path, ".wav") || endsWith(path, ".WAV")) {
        return OutputFormat::Wav;
    }
    if (endsWith(path, ".sigmf-meta") || endsWith(path, ".sigmf-data") ||
        endsWith(path, ".sigmf")) {
        return OutputFormat::Sigmf;
    }
    return OutputFormat::Raw;
}

const char* formatName(OutputFormat format) {
    switch (format) {
    case OutputFormat::Wav:
        return "wav";
    case OutputFormat::Sigmf:
        return "sigmf";
    case OutputFormat::Raw:
        return "raw";
    case OutputFormat::None:
        break;
    }
    return "none";
}

std::unique_ptr<IqWriter> openWriter(OutputFormat format, const std::string& path,
                                     const RecordingInfo& info, std::string& error) {
    if (path == "-" && format != OutputFormat::Raw) {
        error = std::string("standard output carries raw samples only, not ") + formatName(format) +
                " (use --format raw)";
        return nullptr;
    }
    switch (format) {
    case OutputFormat::Wav:
        return openWavWriter(path, info, error);
    case OutputFormat::Sigmf:
        return openSigmfWriter(path, info, error);
    case OutputFormat::Raw: {
        auto writer = std::make_unique<RawWriter>();
        if (!writer->open(path)) {
            error = writer->error();
            return nullptr;
        }
        return writer;
    }
    case OutputFormat::None:
        break;
    }
    return nullptr;
}

} // namespace zef::host

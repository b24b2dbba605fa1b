#include "file_output.h"
#include "iq_writers.h"
#include "sample_bytes.h"
#include "sigmf_meta.h"

#include <vector>

namespace zef::host {

namespace {

bool writeMeta(const std::string& path, const RecordingInfo& info, const UtcTime& start,
               std::string& error) {
    OutputFile file;
    const std::string text = sigmfMeta(info, start).dump(2) + "\n";
    if (!file.open(path) || !file.write(text.data(), text.size()) || !file.close()) {
        error = file.error();
        return false;
    }
    return true;
}

class SigmfWriter final : public IqWriter {
  public:
    bool open(const std::string& path, const RecordingInfo& info) {
        const std::string base = sigmfBaseName(path);
        metaPath_ = base + ".sigmf-meta";
        // The meta file is written now too, so an unwritable folder fails at
        // once and an interrupted recording still has one.
        return data_.open(base + ".sigmf-data") && writeMeta(metaPath_, info, utcNow(), metaError_);
    }

    bool write(const std::int16_t* iq, std::size_t pairs) override {
        return writeLittleEndian(data_, iq, pairs, buffer_);
    }

    bool finish(const RecordingInfo& info, const UtcTime& start, const UtcTime& /*stop*/) override {
        const bool closed = data_.close();
        return writeMeta(metaPath_, info, start, metaError_) && closed;
    }

    [[nodiscard]] const std::string& error() const override {
        return metaError_.empty() ? data_.error() : metaError_;
    }

  private:
    OutputFile data_;
    std::string metaPath_;
    std::string metaError_;
    std::vector<std::uint8_t> buffer_;
};

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

nlohmann::ordered_json sigmfMeta(const RecordingInfo& info, const UtcTime& start) {
    nlohmann::ordered_json global;
    global["core:datatype"] = "ci16_le";
    global["core:version"] = kSigmfVersion;
    if (info.sampleRate != 0) {
        global["core:sample_rate"] = info.sampleRate;
    }
    if (!info.hardware.empty()) {
        global["core:hw"] = info.hardware;
    }
    global["core:recorder"] = info.recorder;

    nlohmann::ordered_json capture;
    capture["core:sample_start"] = 0;
    capture["core:frequency"] = info.loFrequency;
    capture["core:datetime"] = rfc3339(start);

    nlohmann::ordered_json meta;
    meta["global"] = global;
    meta["captures"] = nlohmann::ordered_json::array({capture});
    meta["annotations"] = nlohmann::ordered_json::array();
    return meta;
}

std::string sigmfBaseName(const std::string& path) {
    for (const char* extension : {".sigmf-meta", ".sigmf-data", ".sigmf"}) {
        const std::string suffix = extension;
        if (endsWith(path, suffix)) {
            return path.substr(0, path.size() - suffix.size());
        }
    }
    return path;
}

std::unique_ptr<IqWriter> openSigmfWriter(const std::string& path, const RecordingInfo& info,
                                          std::string& error) {
    auto writer = std::make_unique<SigmfWriter>();
    if (!writer->open(path, info)) {
        error = writer->error();
        return nullptr;
    }
    return writer;
}

} // namespace zef::host

#include "file_output.h"
#include "iq_writers.h"
#include "sample_bytes.h"
#include "wav_header.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zef::host {

namespace {

class ByteWriter {
  public:
    explicit ByteWriter(std::uint8_t* out) : out_(out) {}
    void tag(const char (&fourCc)[5]) { put(fourCc, 4); }
    void u16(std::uint16_t value) {
        out_[at_++] = static_cast<std::uint8_t>(value & 0xFFU);
        out_[at_++] = static_cast<std::uint8_t>(value >> 8U);
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value & 0xFFFFU));
        u16(static_cast<std::uint16_t>(value >> 16U));
    }
    void time(const UtcTime& t) {
        for (std::uint16_t field :
             {t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.millisecond}) {
            u16(field);
        }
    }
    void zeros(std::size_t count) {
        std::memset(out_ + at_, 0, count);
        at_ += count;
    }
    [[nodiscard]] std::size_t at() const { return at_; }

  private:
    void put(const char* bytes, std::size_t count) {
        std::memcpy(out_ + at_, bytes, count);
        at_ += count;
    }
    std::uint8_t* out_;
    std::size_t at_ = 0;
};

std::uint32_t centreOf(const RecordingInfo& info) {
    return info.loFrequency > 0 ? static_cast<std::uint32_t>(info.loFrequency) : 0U;
}

class WavWriter final : public IqWriter {
  public:
    bool open(const std::string& path, const RecordingInfo& info) {
        if (!file_.open(path)) {
            return false;
        }
        const UtcTime now = utcNow();
        const auto header = wavHeader({info.sampleRate, centreOf(info), now, now, 0});
        return file_.write(header.data(), header.size());
    }

    bool write(const std::int16_t* iq, std::size_t pairs) override {
        if (full_) {
            return false;
        }
        const std::uint64_t room = (kWavMaxDataBytes - dataBytes_) / 4;
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(pairs, room));
        if (!writeLittleEndian(file_, iq, take, buffer_)) {
            return false;
        }
        dataBytes_ += take * 4;
        if (take < pairs) {
            full_ = true;
            limitError_ = "cannot write " + file_.path() +
                          ": a WAV file holds at most 4 GiB (record longer with --format sigmf "
                          "or raw)";
            return false;
        }
        return true;
    }

    bool finish(const RecordingInfo& info, const UtcTime& start, const UtcTime& stop) override {
        const auto header = wavHeader(
            {info.sampleRate, centreOf(info), start, stop, static_cast<std::uint32_t>(dataBytes_)});
        const bool patched = file_.patch(0, header.data(), header.size());
        return file_.close() && patched;
    }

    [[nodiscard]] const std::string& error() const override {
        return limitError_.empty() ? file_.error() : limitError_;
    }

  private:
    OutputFile file_;
    std::uint64_t dataBytes_ = 0;
    bool full_ = false;
    std::string limitError_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace

std::array<std::uint8_t, kWavHeaderBytes> wavHeader(const WavFields& fields) {
    std::array<std::uint8_t, kWavHeaderBytes> header{};
    ByteWriter out(header.data());
    out.tag("RIFF");
    out.u32(static_cast<std::uint32_t>(kWavHeaderBytes - 8) + fields.dataBytes);
    out.tag("WAVE");

    out.tag("fmt ");
    out.u32(16);
    out.u16(1); // PCM
    out.u16(2); // I left, Q right
    out.u32(fields.sampleRate);
    out.u32(fields.sampleRate * 4); // bytes per second
    out.u16(4);                     // bytes per pair
    out.u16(16);

    out.tag("auxi");
    out.u32(static_cast<std::uint32_t>(kAuxiBytes));
    out.time(fields.start);
    out.time(fields.stop);
    out.u32(fields.centreFrequency);
    out.u32(fields.sampleRate); // ADFrequency
    out.u32(0);                 // IFFrequency
    out.u32(0);                 // Bandwidth
    out.u32(0);                 // IQOffset
    out.zeros(4 * 4 + 96);      // unused words, nextfilename

    out.tag("data");
    out.u32(fields.dataBytes);
    return header;
}

std::unique_ptr<IqWriter> openWavWriter(const std::string& path, const RecordingInfo& info,
                                        std::string& error) {
    auto writer = std::make_unique<WavWriter>();
    if (!writer->open(path, info)) {
        error = writer->error();
        return nullptr;
    }
    return writer;
}

} // namespace zef::host

// The recording formats byte by byte and field by field, without a plug-in.
#include "iq_writers.h"
#include "sigmf_meta.h"
#include "utc_time.h"
#include "wav_file.h"
#include "wav_header.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zef::test {
namespace {

using host::UtcTime;

std::string scratchFile(const std::string& name) {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    return (std::filesystem::temp_directory_path() /
            (std::string("zef-host-") + test->name() + "-" + name))
        .string();
}

// 2026-12-08 17:50:41.123 UTC, a Tuesday.
constexpr auto kTuesday = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} +
                          std::chrono::hours{17} + std::chrono::minutes{50} +
                          std::chrono::seconds{41} + std::chrono::milliseconds{123};

TEST(UtcTime, CarriesSystemtimeFieldsAndRfc3339Text) {
    struct Case {
        std::chrono::system_clock::time_point instant;
        std::array<std::uint16_t, 8> fields; // year month weekday day h m s ms
        const char* text;
    };
    const Case cases[] = {
        {kTuesday, {2026, 12, 2, 8, 17, 50, 41, 123}, "2026-12-08T17:50:41.123Z"},
        {std::chrono::sys_days{std::chrono::year{2024} / 2 / 29},
         {2024, 2, 4, 29, 0, 0, 0, 0},
         "2024-02-29T00:00:00.000Z"},
        {std::chrono::sys_days{std::chrono::year{1970} / 1 / 1} - std::chrono::milliseconds{1},
         {1969, 12, 3, 31, 23, 59, 59, 999},
         "1969-12-31T23:59:59.999Z"},
    };
    for (const Case& c : cases) {
        const UtcTime t = host::toUtc(c.instant);
        EXPECT_EQ((std::array<std::uint16_t, 8>{t.year, t.month, t.dayOfWeek, t.day, t.hour,
                                                t.minute, t.second, t.millisecond}),
                  c.fields)
            << c.text;
        EXPECT_EQ(host::rfc3339(t), c.text);
    }
}

TEST(WavHeader, LaysOutRiffFmtAuxiAndDataAsSdrProgramsReadThem) {
    host::WavFields fields;
    fields.sampleRate = 65104;
    fields.centreFrequency = 7050000;
    fields.start = host::toUtc(kTuesday);
    fields.stop = host::toUtc(kTuesday + std::chrono::seconds{3});
    fields.dataBytes = 65104 * 4 * 3;
    const auto header = host::wavHeader(fields);
    ASSERT_EQ(header.size(), 216U);
    const std::vector<std::uint8_t> b(header.begin(), header.end());

    struct Field {
        std::size_t offset;
        std::size_t width;
        std::uint32_t value;
        const char* what;
    };
    const Field table[] = {
        {4, 4, 208 + fields.dataBytes, "RIFF size"},
        {16, 4, 16, "fmt size"},
        {20, 2, 1, "PCM"},
        {22, 2, 2, "channels"},
        {24, 4, 65104, "sample rate"},
        {28, 4, 260416, "bytes per second"},
        {32, 2, 4, "block align"},
        {34, 2, 16, "bits"},
        {40, 4, 164, "auxi size"},
        {44, 2, 2026, "start year"},
        {46, 2, 12, "start month"},
        {48, 2, 2, "start weekday"},
        {50, 2, 8, "start day"},
        {52, 2, 17, "start hour"},
        {54, 2, 50, "start minute"},
        {56, 2, 41, "start second"},
        {58, 2, 123, "start ms"},
        {72, 2, 44, "stop second"},
        {76, 4, 7050000, "CenterFreq"},
        {80, 4, 65104, "ADFrequency"},
        {84, 4, 0, "IFFrequency"},
        {88, 4, 0, "Bandwidth"},
        {92, 4, 0, "IQOffset"},
        {212, 4, fields.dataBytes, "data size"},
    };
    for (const Field& f : table) {
        const std::uint32_t actual = f.width == 2 ? u16At(b, f.offset) : u32At(b, f.offset);
        EXPECT_EQ(actual, f.value) << f.what;
    }
    for (const auto& [offset, tag] : {std::pair<std::size_t, const char*>{0, "RIFF"},
                                      {8, "WAVE"},
                                      {12, "fmt "},
                                      {36, "auxi"},
                                      {208, "data"}}) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + offset), 4), tag);
    }
    for (std::size_t i = 96; i < 208; ++i) {
        ASSERT_EQ(b[i], 0) << "unused words and nextfilename are zero, byte " << i;
    }
}

TEST(WavWriter, PatchesSizesAndTimesWhenFinished) {
    const std::string path = scratchFile("w.wav");
    host::RecordingInfo info{65104, 14070000, "hw", "test"};
    std::string error;
    auto writer = host::openWavWriter(path, info, error);
    ASSERT_TRUE(writer) << error;
    std::vector<std::int16_t> iq(2000);
    for (std::size_t i = 0; i < iq.size(); ++i) {
        iq[i] = static_cast<std::int16_t>(static_cast<int>(i) * 37 - 30000);
    }
    ASSERT_TRUE(writer->write(iq.data(), 600));
    ASSERT_TRUE(writer->write(iq.data() + 1200, 400));
    const UtcTime start = host::toUtc(kTuesday);
    const UtcTime stop = host::toUtc(kTuesday + std::chrono::milliseconds{15});
    ASSERT_TRUE(writer->finish(info, start, stop)) << writer->error();

    WavFile wav;
    ASSERT_TRUE(wav.parse(path));
    EXPECT_EQ(wav.order, (std::vector<std::string>{"fmt ", "auxi", "data"}));
    EXPECT_EQ(wav.riffSize, 208U + 4000U);
    EXPECT_EQ(wav.pairs(), 1000U);
    EXPECT_EQ(wav.centreFrequency(), 14070000U);
    EXPECT_EQ(wav.auxiTime(0, 7), 123);
    EXPECT_EQ(wav.auxiTime(1, 7), 138);
    for (std::size_t i = 0; i < 2000; ++i) {
        const auto sample = static_cast<std::int16_t>(u16At(wav.bytes, 216 + 2 * i));
        ASSERT_EQ(sample, iq[i]) << "sample " << i << " little-endian, in order";
    }
    std::filesystem::remove(path);
}

TEST(SigmfMeta, CarriesTheCoreFieldsInSigmf12Form) {
    host::RecordingInfo info{65104, 7050000, "ZEF418 v3.02 3.xx", "zef-host 3.0.2"};
    const auto meta = host::sigmfMeta(info, host::toUtc(kTuesday));
    EXPECT_EQ(meta["global"]["core:datatype"], "ci16_le");
    EXPECT_EQ(meta["global"]["core:version"], "1.2.0");
    EXPECT_EQ(meta["global"]["core:sample_rate"], 65104);
    EXPECT_EQ(meta["global"]["core:hw"], "ZEF418 v3.02 3.xx");
    EXPECT_EQ(meta["global"]["core:recorder"], "zef-host 3.0.2");
    ASSERT_EQ(meta["captures"].size(), 1U);
    EXPECT_EQ(meta["captures"][0]["core:sample_start"], 0);
    EXPECT_EQ(meta["captures"][0]["core:frequency"], 7050000);
    EXPECT_EQ(meta["captures"][0]["core:datetime"], "2026-12-08T17:50:41.123Z");
    EXPECT_TRUE(meta["annotations"].is_array() && meta["annotations"].empty());

    // Unknown values are left out rather than written as zero.
    const auto early = host::sigmfMeta({0, 7050000, "", "zef-host"}, host::toUtc(kTuesday));
    EXPECT_FALSE(early["global"].contains("core:sample_rate"));
    EXPECT_FALSE(early["global"].contains("core:hw"));
}

TEST(OutputNames, PickFormatAndSigmfPair) {
    const std::pair<const char*, host::OutputFormat> formats[] = {
        {"a.wav", host::OutputFormat::Wav},
        {"A.WAV", host::OutputFormat::Wav},
        {"a.sigmf", host::OutputFormat::Sigmf},
        {"a.sigmf-meta", host::OutputFormat::Sigmf},
        {"a.sigmf-data", host::OutputFormat::Sigmf},
        {"a.iq", host::OutputFormat::Raw},
        {"-", host::OutputFormat::Raw},
        {"wav", host::OutputFormat::Raw},
    };
    for (const auto& [path, format] : formats) {
        EXPECT_EQ(host::formatFromPath(path), format) << path;
    }
    for (const char* path : {"d/rec", "d/rec.sigmf", "d/rec.sigmf-data", "d/rec.sigmf-meta"}) {
        EXPECT_EQ(host::sigmfBaseName(path), "d/rec") << path;
    }
}

TEST(Writers, ReportWhyAFileCannotBeWritten) {
    std::string error;
    EXPECT_FALSE(host::openWriter(host::OutputFormat::Wav, "/nonexistent-dir/x.wav", {}, error));
    EXPECT_EQ(error, "cannot create /nonexistent-dir/x.wav: No such file or directory");
    EXPECT_FALSE(host::openWriter(host::OutputFormat::Sigmf, "-", {}, error));
    EXPECT_NE(error.find("raw samples only"), std::string::npos);

#if !defined(_WIN32)
    // /dev/full: every write fails with ENOSPC once the buffer is flushed.
    auto raw = host::openWriter(host::OutputFormat::Raw, "/dev/full", {}, error);
    ASSERT_TRUE(raw);
    std::vector<std::int16_t> iq(std::size_t{2} * 65536, 1);
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
        ok = raw->write(iq.data(), 65536);
    }
    ok = raw->finish({}, {}, {}) && ok;
    EXPECT_FALSE(ok);
    EXPECT_EQ(raw->error(), "cannot write /dev/full: No space left on device");
#endif
}

} // namespace
} // namespace zef::test

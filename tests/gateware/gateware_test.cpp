// zef-gateware on the built plug-in: an embedded image is the one the
// simulated instrument rebuilds from the bit-bang stream, and every refused
// input leaves the file as it was.
#include "plugin/plugin_library.h"
#include "run_program.h"
#include "sha256.h"
#include "sim/zef_sim.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <imagehlp.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kCapacity = 393216;

void putWord(Bytes& bytes, unsigned word) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8U));
    bytes.push_back(static_cast<std::uint8_t>(word));
}

// A raw stream of the full XC6SLX9 size, longer than the placeholder, with
// frame data that differs from it.
Bytes makeStream(std::size_t length, std::uint32_t idcode = 0x04001093) {
    Bytes stream(16, 0xFF);
    for (unsigned word : {0xAA99U, 0x5566U, 0x31C2U, idcode >> 16U, idcode & 0xFFFFU}) {
        putWord(stream, word);
    }
    std::uint32_t state = 0x12345678;
    while (stream.size() + 2 < length) {
        state = state * 1664525U + 1013904223U;
        putWord(stream, (state >> 16U) & 0x7FFFU);
    }
    putWord(stream, 0x2000); // a NOOP: the stream never ends in FF
    stream.resize(length);
    return stream;
}

// The same stream in a Xilinx .bit file.
Bytes makeBitFile(const Bytes& stream) {
    Bytes bit = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    for (const auto& [key, text] :
         {std::pair{'a', "zef418_top;UserID=0xFFFFFFFF"}, std::pair{'b', "6slx9tqg144"},
          std::pair{'c', "2026/01/02"}, std::pair{'d', "03:04:05"}}) {
        bit.push_back(static_cast<std::uint8_t>(key));
        putWord(bit, static_cast<unsigned>(std::char_traits<char>::length(text) + 1));
        bit.insert(bit.end(), text, text + std::char_traits<char>::length(text) + 1);
    }
    bit.push_back('e');
    putWord(bit, static_cast<unsigned>(stream.size() >> 16U));
    putWord(bit, static_cast<unsigned>(stream.size() & 0xFFFFU));
    bit.insert(bit.end(), stream.begin(), stream.end());
    return bit;
}

class Gateware : public testing::Test {
  protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("zef-gateware-") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        plugin_ = path(fs::path(ZEF_PLUGIN_PATH).filename().string());
        fs::copy_file(ZEF_PLUGIN_PATH, plugin_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    [[nodiscard]] std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }
    zef::test::ProgramRun tool(std::vector<std::string> args) const {
        args.insert(args.begin(), ZEF_GATEWARE_EXE);
        return zef::test::runProgram(args, (dir_ / "out").string(), (dir_ / "err").string());
    }

    fs::path dir_;
    std::string plugin_;
};

TEST_F(Gateware, EmbeddedImageIsWhatTheInstrumentReceives) {
    const Bytes stream = makeStream(342816);
    const zef::test::ProgramRun embed =
        tool({"embed", plugin_, write("top.bit", makeBitFile(stream))});
    ASSERT_EQ(embed.exitCode, 0) << embed.err;
    EXPECT_NE(embed.out.find("note: "), std::string::npos) << "the .bit header is mentioned";
    const zef::test::ProgramRun show = tool({"show", plugin_});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    EXPECT_NE(show.out.find("gateware for the instrument"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find(zef::sha256Hex(stream)), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("342816 bytes"), std::string::npos) << show.out;
#if defined(_WIN32)
    DWORD stored = 0;
    DWORD computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA(plugin_.c_str(), &stored, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(stored, computed) << "the DLL's checksum follows the new image";
#endif

    zefsim_reset();
    zefsim_add_device("ZEF418", 0x2101, 0, 0);
    {
        zef::test::PluginLibrary plugin(plugin_.c_str());
        int type = 0;
        ASSERT_TRUE(plugin->InitHW(nullptr, nullptr, &type));
        zefsim_counters sim{};
        EXPECT_TRUE(zef::test::waitUntil([&sim] {
            zefsim_get_counters(&sim);
            return sim.configs_accepted > 0;
        }));
        plugin->CloseHW();
        EXPECT_EQ(sim.configs_accepted, 1U);
    }
    Bytes rebuilt(kCapacity + 1);
    rebuilt.resize(zefsim_config_image(rebuilt.data(), rebuilt.size()));
    EXPECT_TRUE(rebuilt == stream) << "rebuilt " << rebuilt.size() << " bytes";
}

// A DLL whose gateware region starts inside its PE header: embedding rewrites
// the checksum field, which then lies in the image.
Bytes dllWithRegionInItsHeader() {
    Bytes file(0x40, 0);
    file[0] = 'M';
    file[1] = 'Z';
    file[0x3C] = 0x40;
    for (const char c : std::string_view("PE\0\0ZEF418/gateware/\1\0\0\0\x40\0\0\0", 28)) {
        file.push_back(static_cast<std::uint8_t>(c));
    }
    file.resize(file.size() + 8 + 64, 0); // flags, length, 64 bytes of room
    return file;
}

TEST_F(Gateware, RefusedInputsLeaveThePluginUntouched) {
    const Bytes goodStream = makeStream(1000);
    Bytes truncatedBit = makeBitFile(goodStream);
    truncatedBit.resize(20); // inside field 'a'
    Bytes shortBit = makeBitFile(goodStream);
    shortBit.resize(shortBit.size() - 10);
    Bytes markedStream = goodStream;
    markedStream.insert(markedStream.end(), {'Z', 'E', 'F', '4', '1', '8', '/', 'g', 'a', 't', 'e',
                                             'w', 'a', 'r', 'e', '/'});
    enum class Target { Plugin, Text, BadDll };
    const struct {
        const char* name;
        Bytes image;
        Target target;
        const char* message;
    } cases[] = {
        {"too long", makeStream(kCapacity + 2), Target::Plugin, "has room for 393216"},
        {"wrong IDCODE", makeStream(1000, 0x04002093), Target::Plugin,
         "wrong IDCODE 0x04002093 (XC6SLX16)"},
        {"truncated .bit header", truncatedBit, Target::Plugin, "truncated .bit header"},
        {"truncated .bit stream", shortBit, Target::Plugin, "truncated .bit file"},
        {"no sync word", Bytes(64, 0xFF), Target::Plugin, "no sync word"},
        {"a region marker in the image", markedStream, Target::Plugin, "marker of a gateware"},
        {"not a plug-in file", goodStream, Target::Text, "not a plug-in file"},
        {"a region inside the PE header", makeStream(64), Target::BadDll, "not a plug-in file"},
    };
    const std::string text = write("notes.txt", Bytes(4096, 'x'));
    const std::string dll = write("header.dll", dllWithRegionInItsHeader());
    for (const auto& c : cases) {
        const std::string target = c.target == Target::Plugin ? plugin_
                                   : c.target == Target::Text ? text
                                                              : dll;
        const std::string before = zef::test::fileText(target);
        const std::string copy = path("copy");
        const std::string image = write("image", c.image);
        for (const bool inPlace : {false, true}) {
            const zef::test::ProgramRun run = inPlace ? tool({"embed", target, image})
                                                      : tool({"embed", target, image, "-o", copy});
            EXPECT_EQ(run.exitCode, 1) << c.name;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
            EXPECT_EQ(zef::test::fileText(target), before) << c.name;
            EXPECT_FALSE(fs::exists(copy)) << c.name;
        }
    }
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) {
        ++files;
    }
    EXPECT_EQ(files, 6U) << "plug-in, notes, DLL, image, out, err: no temporary file left";
}

} // namespace

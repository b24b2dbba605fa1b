// zef-gateware: shows which FPGA image a built ExtIO_Zef plug-in carries, and
// puts the instrument's gateware into one without a compiler.
#include "bitstream.h"
#include "embed.h"
#include "file_io.h"
#include "plugin_region.h"
#include "sha256.h"

#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace zef::gateware; // NOLINT(google-build-using-namespace): one tool, one namespace

constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "Usage: zef-gateware show PLUGIN\n"
    "  or:  zef-gateware embed PLUGIN IMAGE [-o OUT]\n"
    "Shows and replaces the FPGA image (the gateware) inside a built ExtIO_Zef\n"
    "plug-in: ExtIO_Zef.dll (32- or 64-bit), ExtIO_Zef.so or the SoapySDR module\n"
    "libzefSupport.so.\n"
    "\n"
    "Commands:\n"
    "  show PLUGIN          prints which image the file carries: placeholder or\n"
    "                       not, length, SHA-256 and the Spartan-6 IDCODE\n"
    "  embed PLUGIN IMAGE   puts IMAGE, the instrument's gateware (a raw .bin\n"
    "                       stream, or a Xilinx .bit file whose header is\n"
    "                       stripped), into the file; it is replaced only when\n"
    "                       everything checked out\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT     embed into a copy named OUT instead\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0 done; 1 refused (an image that is too long, has another IDCODE or a\n"
    "  truncated .bit header, a file that is not a plug-in, or one that cannot\n"
    "  be read or written); 2 usage error.\n"
    "\n"
    "Examples:\n"
    "  $ zef-gateware show ExtIO_Zef.dll\n"
    "  $ zef-gateware embed ExtIO_Zef.dll gateware.bit\n"
    "  $ zef-gateware embed libzefSupport.so gateware.bin -o with-gateware.so\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "zef-gateware: %s\n", message.c_str());
    return kRefused;
}

std::string idcodeText(std::span<const std::uint8_t> image) {
    const auto idcode = findIdcode(image);
    if (!idcode) {
        return "none";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", *idcode);
    const std::string part = spartan6Part(*idcode);
    return part.empty() ? text : std::string(text) + " (" + part + ")";
}

int show(const std::string& path) {
    std::string error;
    const std::vector<std::uint8_t> file = readFile(path, error);
    if (!error.empty()) {
        return fail(error);
    }
    const PluginRegion region = findRegion(file, error);
    if (!error.empty()) {
        return fail(path + ": " + error);
    }
    const auto image = region.image(file);
    std::printf("%s: %s with the ExtIO_Zef gateware region\n", path.c_str(), region.format.c_str());
    std::printf("  image    %s\n", region.placeholder()
                                       ? "placeholder (cannot bring up a real instrument)"
                                       : "gateware for the instrument");
    std::printf("  length   %u bytes (room for %u)\n", region.length, region.capacity);
    std::printf("  SHA-256  %s\n", zef::sha256Hex(image).c_str());
    std::printf("  IDCODE   %s\n", idcodeText(image).c_str());
    return 0;
}

int embed(const std::string& pluginPath, const std::string& imagePath, const std::string& out) {
    std::string error;
    std::vector<std::uint8_t> file = readFile(pluginPath, error);
    if (!error.empty()) {
        return fail(error);
    }
    const std::vector<std::uint8_t> imageFile = readFile(imagePath, error);
    if (!error.empty()) {
        return fail(error);
    }
    const Embedding embedding = embedImage(file, imageFile);
    if (embedding.refused != Embedding::Refused::No) {
        const std::string& culprit =
            embedding.refused == Embedding::Refused::Plugin ? pluginPath : imagePath;
        return fail(culprit + ": " + embedding.error);
    }
    if (!embedding.note.empty()) {
        std::printf("note: %s is %s\n", imagePath.c_str(), embedding.note.c_str());
    }
    if (const std::string problem = writeFileAtomically(out, file, pluginPath); !problem.empty()) {
        return fail(problem);
    }
    std::printf("embedded %zu bytes of gateware (SHA-256 %s) into %s\n", embedding.image.size(),
                zef::sha256Hex(embedding.image).c_str(), out.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "show") {
        return show(args[1]);
    }
    if (args.size() == 3 && args[0] == "embed") {
        return embed(args[1], args[2], args[1]);
    }
    if (args.size() == 5 && args[0] == "embed" && (args[3] == "-o" || args[3] == "--output")) {
        return embed(args[1], args[2], args[4]);
    }
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("zef-gateware " ZEF_GATEWARE_VERSION);
        return 0;
    }
    std::fputs(kUsageText, stderr);
    return kUsage;
}

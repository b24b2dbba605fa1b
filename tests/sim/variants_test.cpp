// The simulated driver libraries as the plug-in's loader sees them: which
// entry points each exports, and how a host preloads one so that the
// plug-in's bare-name load finds it.
#include "platform/platform.h"
#include "usb_func/driver_table.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The names the plug-in binds, in its slot order.
constexpr const auto& kNames = zef::kSlotNames;
constexpr const char* kPlainFile = zef::kPlainLibraryFile;
constexpr const char* kBridgeFile = zef::kBridgeLibraryFile;

struct Variant {
    const char* folder;
    bool bridge;
    const char* missing; // plain name of the one entry point left out, or ""
};

constexpr std::array<Variant, 6> kVariants = {{
    {"plain", false, ""},
    {"bridge", true, ""},
    {"zefsim_bridge_no_purge", true, "FT_Purge"},
    {"zefsim_plain_no_getstatus", false, "FT_GetStatus"},
    {"zefsim_plain_no_cycleport", false, "FT_CyclePort"},
    {"zefsim_plain_no_setchars", false, "FT_SetChars"},
}};

void PrintTo(const Variant& v, std::ostream* os) {
    *os << v.folder;
}

std::string pathOf(const Variant& v) {
    return std::string(ZEF_SIM_OUTPUT_DIR) + "/" + v.folder + "/" +
           (v.bridge ? kBridgeFile : kPlainFile);
}

class VariantExports : public ::testing::TestWithParam<Variant> {};

TEST_P(VariantExports, ExportExactlyTheirEntryPoints) {
    const Variant v = GetParam();
    zef::platform::Library lib = zef::platform::loadLibrary(pathOf(v).c_str());
    ASSERT_NE(lib, nullptr) << pathOf(v);
    for (std::size_t slot = 0; slot < kNames.size(); ++slot) {
        const std::string plain = kNames[slot];
        const bool inFlavour = !v.bridge || slot < 16;
        const bool expected = inFlavour && plain != v.missing;
        EXPECT_EQ(zef::platform::findSymbol(lib, ("lin_" + plain).c_str()) != nullptr,
                  v.bridge && expected)
            << "lin_" << plain;
        EXPECT_EQ(zef::platform::findSymbol(lib, plain.c_str()) != nullptr, !v.bridge && expected)
            << plain;
    }
    EXPECT_NE(zef::platform::findSymbol(lib, "zefsim_reset"), nullptr);
    EXPECT_NE(zef::platform::findSymbol(lib, "zefsim_call_log"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllLibraries, VariantExports, ::testing::ValuesIn(kVariants),
                         [](const auto& param) { return std::string(param.param.folder); });

// A host preloads the simulator by its full path; the plug-in's later load
// by bare file name then finds that same library.
TEST(Preload, BareNameLoadFindsThePreloadedSimulator) {
    for (const Variant& v : {kVariants[0], kVariants[1]}) {
        const std::string bare = v.bridge ? kBridgeFile : kPlainFile;
        ASSERT_EQ(zef::platform::loadLibrary(bare.c_str()), nullptr)
            << "no driver may be found before the preload";
        zef::platform::Library preloaded = zef::platform::loadLibrary(pathOf(v).c_str());
        ASSERT_NE(preloaded, nullptr);
        zef::platform::Library found = zef::platform::loadLibrary(bare.c_str());
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(zef::platform::findSymbol(found, "zefsim_reset"),
                  zef::platform::findSymbol(preloaded, "zefsim_reset"));
    }
}

} // namespace

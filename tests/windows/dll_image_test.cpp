// ExtIO_Zef.dll as a host (and Explorer) sees it before calling anything:
// the export table, the libraries it needs and its version record. The
// release check runs it on a packaged DLL named by ZEF_DLL_UNDER_TEST.
#include "pe_file.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using zef::test::PeDirectory;
using zef::test::readPeDirectory;

const char* dllUnderTest() {
    const char* named = std::getenv("ZEF_DLL_UNDER_TEST");
    return named != nullptr ? named : ZEF_PLUGIN_PATH;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(DllExports, AreExactlyTheSixteenExtIONamesUndecorated) {
    std::vector<std::string> expected = {
        "InitHW",      "OpenHW",  "StartHW", "GetStatus",       "StopHW",      "CloseHW",
        "SetHWLO",     "GetHWLO", "GetHWSR", "IFLimitsChanged", "TuneChanged", "ModeChanged",
        "SetCallback", "ShowGUI", "HideGUI", "RawDataReady"};
    std::sort(expected.begin(), expected.end());

    const PeDirectory pe = readPeDirectory(dllUnderTest());
    std::vector<std::string> names = pe.exportNames;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected); // a 32-bit "InitHW@12" would show here
    EXPECT_EQ(pe.exportSlots, expected.size()) << "exports reachable by ordinal only";
}

// A host on a machine without MinGW refuses a plug-in that needs its runtime.
TEST(DllImports, AreSystemLibrariesOnly) {
    const std::vector<std::string> system = {"kernel32.dll", "msvcrt.dll", "ntdll.dll",
                                             "advapi32.dll", "user32.dll", "ucrtbase.dll"};
    const PeDirectory pe = readPeDirectory(dllUnderTest());
    ASSERT_FALSE(pe.importedDlls.empty());
    for (const std::string& dll : pe.importedDlls) {
        const std::string name = lowerCase(dll);
        const bool known = std::find(system.begin(), system.end(), name) != system.end() ||
                           name.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(known) << "imports " << dll;
    }
}

class VersionRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(dllUnderTest(), &ignored);
        ASSERT_GT(size, 0U) << "no version record";
        block_.resize(size);
        ASSERT_NE(GetFileVersionInfoA(dllUnderTest(), 0, size, block_.data()), 0);
    }

    // The value and its length in characters or bytes, if the record has it.
    std::optional<std::pair<const void*, UINT>> query(const std::string& path) {
        void* value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(block_.data(), path.c_str(), &value, &length) == 0) {
            return std::nullopt;
        }
        return std::make_pair(static_cast<const void*>(value), length);
    }

    std::optional<std::string> text(const std::string& key) {
        const auto found = query("\\StringFileInfo\\040904E4\\" + key);
        if (!found) {
            return std::nullopt;
        }
        return found->second == 0 ? std::string()
                                  : std::string(static_cast<const char*>(found->first));
    }

  private:
    std::vector<unsigned char> block_;
};

TEST_F(VersionRecord, FileAndProductVersionsAre3_0_2_0) {
    const auto root = query("\\");
    ASSERT_TRUE(root.has_value());
    ASSERT_GE(root->second, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO info{};
    std::memcpy(&info, root->first, sizeof info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDU);
    EXPECT_EQ(info.dwFileVersionMS, 0x00030000U);
    EXPECT_EQ(info.dwFileVersionLS, 0x00020000U);
    EXPECT_EQ(info.dwProductVersionMS, 0x00030000U);
    EXPECT_EQ(info.dwProductVersionLS, 0x00020000U);
    EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionRecord, TranslationIsUsEnglishWithCodePage1252) {
    const auto translation = query("\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation.has_value());
    ASSERT_EQ(translation->second, 2 * sizeof(WORD)) << "exactly one translation";
    WORD pair[2] = {};
    std::memcpy(pair, translation->first, sizeof pair);
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1252);
}

TEST_F(VersionRecord, TextFieldsNameTheProductAndLeaveTheRestEmpty) {
    const std::pair<const char*, const char*> fields[] = {
        {"FileDescription", "ExtIO ZEF418"},
        {"ProductVersion", "3.02"},
        {"CompanyName", ""},
        {"FileVersion", ""},
        {"InternalName", ""},
        {"LegalCopyright", ""},
        {"LegalTrademarks", ""},
        {"OriginalFilename", ""},
        {"ProductName", ""},
        {"Comments", ""},
    };
    for (const auto& [key, expected] : fields) {
        const std::optional<std::string> value = text(key);
        ASSERT_TRUE(value.has_value()) << key << " missing from block 040904E4";
        EXPECT_EQ(*value, expected) << key;
    }
}

} // namespace

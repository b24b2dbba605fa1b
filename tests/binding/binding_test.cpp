// Binding the D2XX driver: which library wins, and the status of each missing
// entry point. Each test runs in a process of its own, because the first
// library that loads stays bound for the life of the process.
#include "platform/platform.h"
#include "plugin/device_state.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"
#include "zef/instrument.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// Loads a simulated driver by path; the plug-in's bare-name load then finds
// it among the loaded libraries.
void preload(const std::string& path) {
    ASSERT_NE(zef::platform::loadLibrary(path.c_str()), nullptr) << path;
}

std::string simLibrary(const char* folder, bool bridge) {
#if defined(_WIN32)
    const char* file = bridge ? "lin_ftd2xx.dll" : "ftd2xx.dll";
#else
    const char* file = bridge ? "liblin_ftd2xx.so" : "libftd2xx.so";
#endif
    return std::string(ZEF_SIM_DIR) + "/" + folder + "/" + file;
}

std::size_t boundSlots() {
    std::size_t n = 0;
    for (const auto& slot : zef::driverTable.slots) {
        n += slot.load() != nullptr ? 1U : 0U;
    }
    return n;
}

TEST(Binding, NoLibraryGives100AndTriesAgain) {
    EXPECT_EQ(zef::BindDriver(), 100U);
    EXPECT_EQ(zef::BindDriver(), 100U);
    EXPECT_FALSE(zef::deviceState.bridgeLibrary.load());
    EXPECT_FALSE(zef::deviceState.plainLibrary.load());
    zef::d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(zef::OpenDevice(&handle), 100U);
    EXPECT_FALSE(zef::portOpen());
}

TEST(Binding, ForwardersWithoutADriverFailSafely) {
    zef::d2xx::DWORD queued = 0;
    EXPECT_NE(zef::FT_GetQueueStatus(nullptr, &queued), 0U);
    EXPECT_NE(zef::FT_Write(nullptr, "x", 1, &queued), 0U);
    EXPECT_NE(zef::FT_GetStatus(nullptr, &queued, &queued, &queued), 0U);
}

TEST(Binding, PlainLibraryBindsAllTwentyFour) {
    preload(simLibrary("plain", false));
    EXPECT_EQ(zef::BindDriver(), 0U);
    EXPECT_TRUE(zef::deviceState.plainLibrary.load());
    EXPECT_FALSE(zef::deviceState.bridgeLibrary.load());
    EXPECT_EQ(boundSlots(), 24U);
    EXPECT_EQ(zef::BindDriver(), 0U) << "rebinding stores the same addresses";
}

TEST(Binding, BridgeWinsWhenBothArePresent) {
    preload(simLibrary("plain", false));
    preload(simLibrary("bridge", true));
    EXPECT_EQ(zef::BindDriver(), 0U);
    EXPECT_TRUE(zef::deviceState.bridgeLibrary.load());
    EXPECT_FALSE(zef::deviceState.plainLibrary.load());
    EXPECT_EQ(boundSlots(), 16U) << "the extra set stays empty";
    zef::d2xx::DWORD rx = 0;
    EXPECT_NE(zef::FT_GetStatus(nullptr, &rx, &rx, &rx), 0U) << "empty extra slot";
}

struct MissingCase {
    const char* name;
    const char* folder;
    bool bridge;
    std::uint32_t status;
    std::size_t boundBefore; // slots resolved before the missing one
    const char* missing;     // what the status says in words
};

void PrintTo(const MissingCase& c, std::ostream* out) {
    *out << c.name;
}

class MissingEntryPoint : public testing::TestWithParam<MissingCase> {};

TEST_P(MissingEntryPoint, EveryOpenFailsWithTheSlotStatus) {
    const MissingCase& c = GetParam();
    preload(simLibrary(c.folder, c.bridge));
    if (c.bridge) {
        preload(simLibrary("plain", false)); // present, but never used
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        zef::d2xx::FT_HANDLE handle = nullptr;
        EXPECT_EQ(zef::OpenDevice(&handle), c.status);
        EXPECT_EQ(handle, nullptr) << "nothing opened";
    }
    EXPECT_EQ(boundSlots(), c.boundBefore);
    EXPECT_NE(zef::instrument::describeStatus(c.status).find(c.missing), std::string::npos)
        << zef::instrument::describeStatus(c.status);
    EXPECT_EQ(zef::deviceState.bridgeLibrary.load(), c.bridge);
    EXPECT_EQ(zef::deviceState.plainLibrary.load(), !c.bridge);
}

INSTANTIATE_TEST_SUITE_P(
    Binding, MissingEntryPoint,
    testing::Values(
        MissingCase{"BridgeWithoutPurge", "zefsim_bridge_no_purge", true, 125, 15,
                    "lacks the entry point FT_Purge (lin_FT_Purge in the bridge library)"},
        MissingCase{"PlainWithoutCyclePort", "zefsim_plain_no_cycleport", false, 130, 16,
                    "lacks the entry point FT_CyclePort"},
        MissingCase{"PlainWithoutSetChars", "zefsim_plain_no_setchars", false, 135, 21,
                    "lacks the entry point FT_SetChars"},
        MissingCase{"PlainWithoutGetStatus", "zefsim_plain_no_getstatus", false, 137, 23,
                    "lacks the entry point FT_GetStatus"}));

// Every status a user can meet, in words: the D2XX codes by name, the
// binding codes naming the library or the entry point.
TEST(StatusInWords, EveryCodeHasItsName) {
    using zef::instrument::describeStatus;
    const struct {
        std::uint32_t status;
        const char* words;
    } cases[] = {
        {0, "FT_OK (status 0)"},
        {2, "FT_DEVICE_NOT_FOUND (status 2): no instrument"},
        {3, "FT_DEVICE_NOT_OPENED (status 3): the device could not be opened: another program"},
        {4, "FT_IO_ERROR (status 4)"},
        {10, "FT_FAILED_TO_WRITE_DEVICE (status 10)"},
        {19, "FT_DEVICE_LIST_NOT_READY (status 19)"},
        {100, "no D2XX driver library could be loaded"},
        {110, "the D2XX library lacks the entry point FT_Open (lin_FT_Open"},
        {130, "FTDI's D2XX library lacks the entry point FT_CyclePort (status 130)"},
        {20, "an unknown status (status 20)"},
        {105, "an unknown status (status 105)"},
        {126, "an unknown status (status 126)"},
        {138, "an unknown status (status 138)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describeStatus(c.status).rfind(c.words, 0), 0U) << describeStatus(c.status);
    }
    for (std::size_t slot = 0; slot < zef::kAllSlots; ++slot) {
        const auto status = static_cast<std::uint32_t>(
            slot < zef::kCommonSlots ? 110 + slot : 130 + slot - zef::kCommonSlots);
        const std::string words = describeStatus(status);
        EXPECT_NE(words.find(std::string("entry point ") + zef::kSlotNames[slot]),
                  std::string::npos)
            << words;
        EXPECT_NE(words.find("(status " + std::to_string(status) + ")"), std::string::npos)
            << words;
    }
}

} // namespace

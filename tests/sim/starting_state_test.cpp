// The starting state of a simulator that no control call configured: taken
// from the configuration file at the first device-list call, unless a
// control call came first. Each test runs in a process of its own.
#include "sim_fixture.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace zef::sim::test {
namespace {

void setConfigVariable(const std::string& value) {
#if defined(_WIN32)
    _putenv_s("ZEFSIM_CONFIG", value.c_str());
#else
    setenv("ZEFSIM_CONFIG", value.c_str(), 1);
#endif
}

std::string description(std::uintptr_t index) {
    char text[64] = {};
    // NOLINTNEXTLINE(performance-no-int-to-ptr): D2XX passes the index as a pointer
    FT_ListDevices(reinterpret_cast<void*>(index), text, 0x40000002);
    return text;
}

DWORD listed() {
    DWORD count = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), 0U);
    return count;
}

TEST(StartingState, FileNamedByTheVariableSetsTheDevices) {
    const auto path = std::filesystem::temp_directory_path() / "zefsim-starting-state.conf";
    std::ofstream(path) << "device = FT232R USB UART @ 0x1001\n"
                           "device = ZEF418 @ 0x2101\n"
                           "timing = sometimes\n"; // reported, skipped
    setConfigVariable(path.string());
    EXPECT_EQ(listed(), 2U);
    EXPECT_EQ(description(0), "FT232R USB UART");
    EXPECT_EQ(description(1), "ZEF418");
    std::filesystem::remove(path);
}

TEST(StartingState, UnreadableFileStillGivesOneZef418) {
    setConfigVariable("/nonexistent/zefsim.conf");
    EXPECT_EQ(listed(), 1U);
    EXPECT_EQ(description(0), "ZEF418");
}

TEST(StartingState, NoneOrAControlCallFirstKeepsTheEmptyStart) {
    setConfigVariable("/nonexistent/zefsim.conf");
    zefsim_counters counters{};
    zefsim_get_counters(&counters); // reading changes nothing
    zefsim_set_timing(ZEFSIM_FAST);
    EXPECT_EQ(listed(), 0U);
}

TEST(StartingState, NoneKeepsTheEmptyStart) {
    setConfigVariable("none");
    EXPECT_EQ(listed(), 0U);
}

} // namespace
} // namespace zef::sim::test

// Finding and opening the instrument with FTDI's plain D2XX library, against
// the simulated driver.
#include "call_log.h"

#include "plugin/device_state.h"
#include "usb_func/open_device.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zef::test {
namespace {

struct Listed {
    const char* description;
    std::uint32_t location;
    bool held;
};

struct SearchCase {
    const char* name;
    std::vector<Listed> devices;
    std::uint32_t result;
    std::string openedBy; // the successful FT_OpenEx line, empty when none
};

void PrintTo(const SearchCase& c, std::ostream* out) {
    *out << c.name;
}

class Search : public testing::TestWithParam<SearchCase> {};

TEST_P(Search, OpensTheRightDevice) {
    const SearchCase& c = GetParam();
    zefsim_reset();
    for (const Listed& d : c.devices) {
        zefsim_add_device(d.description, d.location, d.held ? 1 : 0, 0);
    }
    d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(OpenDevice(&handle), c.result);
    EXPECT_EQ(portOpen(), c.result == 0);
    if (c.openedBy.empty()) {
        EXPECT_TRUE(callsFrom("FT_ResetDevice").empty()) << "no set-up without a device";
    } else {
        const std::vector<std::string> calls = callLog();
        std::string lastOpen;
        for (const std::string& line : calls) {
            if (line.rfind("FT_OpenEx", 0) == 0) {
                lastOpen = line;
            }
        }
        EXPECT_EQ(lastOpen, c.openedBy);
    }
}

const std::vector<Listed> kFirstMatch = {{"USB Serial", 0x11, false},
                                         {"Digital Oscilloscope KR27xx", 0x12, false},
                                         {"ZEF418", 0x13, false}};

INSTANTIATE_TEST_SUITE_P(
    Discovery, Search,
    testing::Values(SearchCase{"NoDevice", {}, 2, ""},
                    SearchCase{"FirstMatchInIndexOrder", kFirstMatch, 0, "FT_OpenEx 0x12 4"},
                    SearchCase{"HeldInstrumentFallsThroughToPassTwo",
                               {{"ZEF418", 0x21, true}, {"FT232R USB UART", 0x22, false}},
                               0,
                               "FT_OpenEx 0x22 4"},
                    SearchCase{"RelativesAreNeverOpened",
                               {{"Digital Oscilloscope", 0x31, false},
                                {"Digital Oscilloscope KR27", 0x32, false}},
                               2,
                               ""},
                    SearchCase{"LongerDescriptionOpensInPassTwo",
                               {{"Digital Oscilloscope KR27xx B", 0x41, false}},
                               0,
                               "FT_OpenEx 0x41 4"},
                    SearchCase{"PassTwoReportsTheLastFailedOpen",
                               {{"ZEF418", 0x51, true}, {"Other", 0x52, true}},
                               3,
                               ""}),
    [](const testing::TestParamInfo<SearchCase>& param) { return param.param.name; });

// A front end's search: the instrument alone, optionally at one location;
// never the second pass, also when the instrument is held.
struct FrontEndCase {
    const char* name;
    std::vector<Listed> devices;
    std::optional<std::uint32_t> location;
    std::uint32_t result;
    std::vector<std::string> opens; // every FT_OpenEx line, in order
};

void PrintTo(const FrontEndCase& c, std::ostream* out) {
    *out << c.name;
}

class FrontEndSearch : public testing::TestWithParam<FrontEndCase> {};

TEST_P(FrontEndSearch, OpensOnlyTheInstrument) {
    const FrontEndCase& c = GetParam();
    zefsim_reset();
    for (const Listed& d : c.devices) {
        zefsim_add_device(d.description, d.location, d.held ? 1 : 0, 0);
    }
    setDeviceSearch(DeviceSearch{true, c.location});
    d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(OpenDevice(&handle), c.result);
    std::vector<std::string> opens;
    for (const std::string& line : callLog()) {
        if (line.rfind("FT_OpenEx", 0) == 0) {
            opens.push_back(line);
        }
    }
    EXPECT_EQ(opens, c.opens);
    if (c.result == 0) {
        EXPECT_EQ(openedLocation(), std::stoul(c.opens.back().substr(10), nullptr, 16));
    } else {
        EXPECT_FALSE(openedLocation().has_value());
    }
}

const std::vector<Listed> kTwoInstruments = {{"FT232R USB UART", 0x11, false},
                                             {"ZEF418", 0x12, false},
                                             {"Digital Oscilloscope KR27xx", 0x13, false}};

INSTANTIATE_TEST_SUITE_P(
    Discovery, FrontEndSearch,
    testing::Values(
        FrontEndCase{"HeldInstrumentIsReportedNotPassedOver",
                     {{"ZEF418", 0x21, true}, {"FT232R USB UART", 0x22, false}},
                     std::nullopt,
                     3,
                     {"FT_OpenEx 0x21 4"}},
        FrontEndCase{
            "ForeignDeviceAloneIsNeverOpened",
            {{"FT232R USB UART", 0x31, false}, {"Digital Oscilloscope KR27xx B", 0x32, false}},
            std::nullopt,
            2,
            {}},
        FrontEndCase{"FirstInstrument", kTwoInstruments, std::nullopt, 0, {"FT_OpenEx 0x12 4"}},
        FrontEndCase{
            "InstrumentAtTheGivenLocation", kTwoInstruments, 0x13, 0, {"FT_OpenEx 0x13 4"}},
        FrontEndCase{"NoInstrumentAtTheGivenLocation", kTwoInstruments, 0x11, 2, {}}),
    [](const testing::TestParamInfo<FrontEndCase>& param) { return param.param.name; });

TEST(Discovery, NoDeviceMeansNoOpenAttempt) {
    zefsim_reset();
    d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(OpenDevice(&handle), 2U);
    EXPECT_FALSE(logHas("FT_OpenEx"));
    EXPECT_FALSE(logHas("FT_ListDevices"));
}

TEST(Discovery, PortSetUpWithCtsClear) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x61, 0, 0);
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    const std::vector<std::string> expected = {"FT_ResetDevice",
                                               "FT_SetBaudRate 3000000",
                                               "FT_SetDataCharacteristics 8 0 0",
                                               "FT_GetModemStatus",
                                               "FT_SetFlowControl 0x0000 0x13 0x17",
                                               "FT_SetTimeouts 500 500",
                                               "FT_SetLatencyTimer 2",
                                               "FT_SetEventNotification 0x01"};
    EXPECT_EQ(callsFrom("FT_ResetDevice"), expected);
}

TEST(Discovery, PortSetUpWithCtsSet) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x62, 0, 1);
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    const std::vector<std::string> expected = {"FT_ResetDevice",
                                               "FT_SetBaudRate 3000000",
                                               "FT_SetDataCharacteristics 8 0 0",
                                               "FT_GetModemStatus",
                                               "FT_SetFlowControl 0x0100 0x13 0x17",
                                               "FT_SetRts",
                                               "FT_SetTimeouts 500 500",
                                               "FT_SetLatencyTimer 2",
                                               "FT_SetEventNotification 0x01"};
    EXPECT_EQ(callsFrom("FT_ResetDevice"), expected);
}

TEST(Discovery, SecondOpenClosesTheFirstHandleBeforeSearching) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x71, 0, 0);
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    ASSERT_EQ(OpenDevice(&handle), 0U) << "the device was freed by the close";
    const std::vector<std::string> second = callsFrom("FT_Close");
    ASSERT_GE(second.size(), 2U);
    EXPECT_EQ(second[1], "FT_CreateDeviceInfoList");
    zefsim_counters c{};
    zefsim_get_counters(&c);
    EXPECT_EQ(c.opens, 2U);
    EXPECT_EQ(c.closes, 1U);
}

TEST(Discovery, FailedOpenLeavesThePortClosed) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x81, 0, 0);
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    zefsim_unplug(0);
    EXPECT_EQ(OpenDevice(&handle), 2U);
    EXPECT_FALSE(portOpen());
    EXPECT_TRUE(logHas("FT_Close"));
}

} // namespace
} // namespace zef::test

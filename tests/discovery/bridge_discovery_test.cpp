// Opening the instrument through the bridge library: index 0, whatever it is.
#include "call_log.h"

#include "plugin/device_state.h"
#include "usb_func/open_device.h"

#include <gtest/gtest.h>

namespace zef::test {
namespace {

TEST(BridgeDiscovery, OpensIndexZeroWithTheBasicSetUp) {
    zefsim_reset();
    zefsim_add_device("Some Other Cable", 0x91, 0, 1);
    zefsim_add_device("ZEF418", 0x92, 0, 0);
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    EXPECT_TRUE(deviceState.bridgeLibrary.load());
    const std::vector<std::string> expected = {"FT_Open 0", "FT_ResetDevice",
                                               "FT_SetBaudRate 3000000", "FT_SetTimeouts 500 500",
                                               "FT_SetLatencyTimer 2"};
    EXPECT_EQ(callsFrom("FT_Open"), expected) << "no event, no flow control, no search";
    EXPECT_FALSE(logHas("FT_ListDevices"));
}

TEST(BridgeDiscovery, FrontEndOpensTheFirstInstrumentByItsIndex) {
    zefsim_reset();
    zefsim_add_device("Some Other Cable", 0x94, 0, 0);
    zefsim_add_device("ZEF418", 0x95, 0, 0);
    setDeviceSearch(DeviceSearch{true, std::nullopt});
    d2xx::FT_HANDLE handle = nullptr;
    ASSERT_EQ(OpenDevice(&handle), 0U);
    EXPECT_EQ(callsFrom("FT_Open")[0], "FT_Open 1");
    EXPECT_EQ(openedLocation(), 0x95U);
    zefsim_reset();
    zefsim_add_device("Some Other Cable", 0x94, 0, 0);
    EXPECT_EQ(OpenDevice(&handle), 2U);
    EXPECT_FALSE(logHas("FT_Open"));
}

TEST(BridgeDiscovery, NoDeviceGivesTwo) {
    zefsim_reset();
    d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(OpenDevice(&handle), 2U);
    EXPECT_FALSE(logHas("FT_Open"));
}

TEST(BridgeDiscovery, HeldDeviceGivesTheOpenStatus) {
    zefsim_reset();
    zefsim_add_device("ZEF418", 0x93, 1, 0);
    d2xx::FT_HANDLE handle = nullptr;
    EXPECT_EQ(OpenDevice(&handle), 3U);
    EXPECT_FALSE(portOpen());
}

} // namespace
} // namespace zef::test

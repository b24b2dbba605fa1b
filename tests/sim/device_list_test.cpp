// The driver's device list, opening and closing, cable pulls, and the call
// log that records the port set-up.
#include "sim_fixture.h"

#include <array>
#include <cstring>

namespace zef::sim::test {
namespace {

using DeviceList = SimTest;

// D2XX passes indexes and location ids as pointers.
void* asPointer(std::uintptr_t value) {
    return reinterpret_cast<void*>(value); // NOLINT(performance-no-int-to-ptr)
}

TEST_F(DeviceList, ListsLocationsAndDescriptionsByIndex) {
    zefsim_add_device("Digital Oscilloscope KR27xx", 0x11, 0, 0);
    zefsim_add_device("ZEF418", 0x22, 0, 1);
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), 0U);
    EXPECT_EQ(count, 2U);
    const std::array<std::pair<DWORD, const char*>, 2> expected = {
        {{0x11, "Digital Oscilloscope KR27xx"}, {0x22, "ZEF418"}}};
    for (std::uintptr_t i = 0; i < expected.size(); ++i) {
        DWORD location = 0;
        char description[64];
        std::memset(description, 0x7F, sizeof description);
        EXPECT_EQ(FT_ListDevices(asPointer(i), &location, 0x40000004), 0U);
        EXPECT_EQ(FT_ListDevices(asPointer(i), description, 0x40000002), 0U);
        EXPECT_EQ(location, expected[i].first);
        EXPECT_STREQ(description, expected[i].second);
    }
    DWORD location = 0;
    EXPECT_EQ(FT_ListDevices(asPointer(2), &location, 0x40000004), 2U);
}

TEST_F(DeviceList, OpenStatuses) {
    zefsim_add_device("ZEF418", 0x22, 0, 0);
    zefsim_add_device("ZEF418", 0x33, 1, 0); // held by another program
    FT_HANDLE h = nullptr;
    FT_HANDLE other = nullptr;
    EXPECT_EQ(FT_OpenEx(asPointer(0x99), 4, &h), 2U);
    EXPECT_EQ(FT_Open(5, &h), 2U);
    EXPECT_EQ(FT_OpenEx(asPointer(0x33), 4, &h), 3U);
    EXPECT_EQ(FT_Open(1, &h), 3U);
    ASSERT_EQ(FT_OpenEx(asPointer(0x22), 4, &h), 0U);
    EXPECT_EQ(FT_Open(0, &other), 3U) << "already open";
    EXPECT_EQ(FT_ResetDevice(asPointer(0xBAD)), 1U);
    EXPECT_EQ(FT_Close(h), 0U);
    EXPECT_EQ(FT_ResetDevice(h), 1U) << "a closed handle is invalid";
    ASSERT_EQ(FT_Open(0, &other), 0U);
    EXPECT_NE(other, h) << "handles are never reused";
    EXPECT_EQ(counters().opens, 2U);
    EXPECT_EQ(counters().closes, 1U);
}

TEST_F(DeviceList, CablePullFailsTheHandleAndReplugComesBackUnconfigured) {
    zefsim_add_device("other", 0x10, 0, 0);
    const int zef = zefsim_add_device("ZEF418", 0x22, 0, 0);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_OpenEx(asPointer(0x22), 4, &h), 0U);
    startDevice(h);
    zefsim_unplug(zef);
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), 0U);
    EXPECT_EQ(count, 1U);
    DWORD queued = 0;
    DWORD written = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(FT_GetQueueStatus(h, &queued), 4U);
    EXPECT_EQ(FT_Write(h, &byte, 1, &written), 4U);
    EXPECT_EQ(FT_Read(h, &byte, 1, &written), 4U);
    EXPECT_EQ(FT_SetBitMode(h, 0x85, 1), 4U);
    EXPECT_EQ(FT_OpenEx(asPointer(0x22), 4, &h), 2U);
    EXPECT_EQ(FT_Close(h), 0U);

    zefsim_replug(zef);
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), 0U);
    EXPECT_EQ(count, 2U);
    ASSERT_EQ(FT_OpenEx(asPointer(0x22), 4, &h), 0U);
    ASSERT_EQ(writeAll(h, {0xA5, 0x00, 0x00}), 0U);
    EXPECT_TRUE(readQueued(h).empty()) << "the FPGA lost its configuration";
    startDevice(h);
    EXPECT_FALSE(readQueued(h).empty());
}

TEST_F(DeviceList, CallLogRecordsSetUpInOrder) {
    zefsim_add_device("ZEF418", 0x22, 0, 1);
    FT_HANDLE h = nullptr;
    DWORD count = 0;
    DWORD location = 0;
    ULONG modem = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), 0U);
    ASSERT_EQ(FT_ListDevices(asPointer(0), &location, 0x40000004), 0U);
    ASSERT_EQ(FT_OpenEx(asPointer(location), 4, &h), 0U);
    FT_ResetDevice(h);
    FT_SetBaudRate(h, 3000000);
    FT_SetDataCharacteristics(h, 8, 0, 0);
    ASSERT_EQ(FT_GetModemStatus(h, &modem), 0U);
    EXPECT_EQ(modem & 0x10U, 0x10U);
    FT_SetFlowControl(h, 0x0100, 0x13, 0x17);
    FT_SetRts(h);
    FT_SetTimeouts(h, 500, 500);
    FT_SetLatencyTimer(h, 2);
    FT_SetEventNotification(h, 1, nullptr);
    FT_SetBitMode(h, 0x85, 1);
    DWORD rx = 0;
    DWORD tx = 0;
    DWORD events = 0;
    FT_GetStatus(h, &rx, &tx, &events);
    FT_GetStatus(h, &rx, &tx, &events);
    FT_SetBitMode(h, 0x85, 0);
    FT_StopInTask(h);
    FT_Purge(h, 1);
    FT_RestartInTask(h);
    FT_Close(h);
    EXPECT_EQ(callLog(), "FT_CreateDeviceInfoList\n"
                         "FT_ListDevices 0 0x40000004\n"
                         "FT_OpenEx 0x22 4\n"
                         "FT_ResetDevice\n"
                         "FT_SetBaudRate 3000000\n"
                         "FT_SetDataCharacteristics 8 0 0\n"
                         "FT_GetModemStatus\n"
                         "FT_SetFlowControl 0x0100 0x13 0x17\n"
                         "FT_SetRts\n"
                         "FT_SetTimeouts 500 500\n"
                         "FT_SetLatencyTimer 2\n"
                         "FT_SetEventNotification 0x01\n"
                         "FT_SetBitMode 0x85 1\n"
                         "FT_GetStatus\n"
                         "FT_SetBitMode 0x85 0\n"
                         "FT_StopInTask\n"
                         "FT_Purge 0x01\n"
                         "FT_RestartInTask\n"
                         "FT_Close\n");
}

} // namespace
} // namespace zef::sim::test

// sendSettingsFrame against a fake FT_Write placed in the driver table: what
// reaches the device, and what lands in DeviceState.
#include "calibration_points.h"
#include "main_thread/settings_frame.h"
#include "plugin/device_state.h"
#include "plugin/tuning.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace {

using zef::d2xx::DWORD;
using zef::d2xx::FT_HANDLE;
using zef::d2xx::FT_STATUS;

struct Write {
    FT_HANDLE handle;
    std::vector<std::uint8_t> bytes;
    bool ackedDuringWrite;
};

std::vector<Write> writes;
std::vector<FT_STATUS> writeStatuses; // returned in turn, then FT_OK

FT_STATUS ZEF_WINAPI fakeWrite(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    writes.push_back({handle, {bytes, bytes + size}, zef::deviceState.settingsAcked.load()});
    *written = size;
    const std::size_t call = writes.size() - 1;
    return call < writeStatuses.size() ? writeStatuses[call] : zef::d2xx::FT_OK;
}

// The receive side stays empty, so parser passes of the wait find nothing.
FT_STATUS ZEF_WINAPI emptyQueue(FT_HANDLE /*handle*/, DWORD* rxBytes) {
    *rxBytes = 0;
    return zef::d2xx::FT_OK;
}
FT_STATUS ZEF_WINAPI emptyRead(FT_HANDLE /*handle*/, void* /*buffer*/, DWORD /*size*/, DWORD* got) {
    *got = 0;
    return zef::d2xx::FT_OK;
}
FT_STATUS ZEF_WINAPI emptyStatus(FT_HANDLE /*handle*/, DWORD* rxBytes, DWORD* txBytes,
                                 DWORD* events) {
    *rxBytes = 0;
    *txBytes = 0;
    *events = 0;
    return zef::d2xx::FT_OK;
}

std::size_t slotOf(std::string_view name) {
    for (std::size_t slot = 0; slot < zef::kSlotNames.size(); ++slot) {
        if (name == zef::kSlotNames[slot]) {
            return slot;
        }
    }
    return zef::kSlotNames.size();
}

class IdleWorker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

class SendSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        writes.clear();
        writeStatuses.clear();
        install("FT_Write", &fakeWrite);
        install("FT_GetQueueStatus", &emptyQueue);
        install("FT_Read", &emptyRead);
        install("FT_GetStatus", &emptyStatus);

        zef::DeviceState& state = zef::deviceState;
        zef::adoptOpenHandle(&state.deviceHandle, &handleTarget_);
        state.loWord = zef::TuningWord(7050000);
        state.tuneFrequency = 7050000;
        state.modeCode = zef::ModeCode('U');
        state.tuneWord = zef::TuningWord(7050000, zef::modeOffsetHz(state.modeCode));
        state.deviceModel = 0;
        state.bridgeLibrary = false;
        state.calibrationA = {};
        state.calibrationB = {};
        state.driverStatus = 0;
        state.settingsAcked = true; // as left by the previous frame's acknowledgement
    }

    void TearDown() override {
        for (auto& slot : zef::driverTable.slots) {
            slot.store(nullptr);
        }
        zef::deviceState.deviceHandle = nullptr;
    }

    template <typename Function> static void install(std::string_view name, Function function) {
        void* address = nullptr;
        static_assert(sizeof(address) == sizeof(function));
        std::memcpy(&address, &function, sizeof(address));
        zef::driverTable.slots.at(slotOf(name)).store(address);
    }

    static zef::SettingsInputs inputsOfState() {
        const zef::DeviceState& state = zef::deviceState;
        zef::SettingsInputs inputs;
        inputs.loWord = state.loWord;
        inputs.tuneFrequency = state.tuneFrequency;
        inputs.modeCode = state.modeCode;
        inputs.tuneWord = state.tuneWord;
        inputs.deviceModel = state.deviceModel;
        inputs.bridgeLibrary = state.bridgeLibrary;
        inputs.calibration = {state.calibrationA, state.calibrationB};
        return inputs;
    }

    IdleWorker worker_;
    int handleTarget_ = 0;
};

TEST_F(SendSettings, WritesThePreambleThenTheFrameBuiltFromDeviceState) {
    zef::deviceState.bridgeLibrary = true;
    zef::test::putU16(zef::deviceState.calibrationA, zef::kTwoPointLowOffset, 30000);
    zef::test::putU16(zef::deviceState.calibrationA, zef::kTwoPointHighOffset, 36000);
    zef::test::putS16(zef::deviceState.calibrationB, zef::kThreePointMidOffset, 5);
    zef::deviceState.calibrationB[zef::kPassThroughOffset] = 0x42;

    zef::sendSettingsFrame(worker_);

    ASSERT_EQ(writes.size(), 2U);
    EXPECT_EQ(writes[0].handle, &handleTarget_);
    EXPECT_EQ(writes[0].bytes, std::vector<std::uint8_t>(zef::kSettingsPreamble.begin(),
                                                         zef::kSettingsPreamble.end()));
    const zef::SettingsFrame expected = zef::buildSettingsFrame(inputsOfState());
    EXPECT_EQ(writes[1].handle, &handleTarget_);
    EXPECT_EQ(writes[1].bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(writes[1].bytes[24], 0x00); // bridge driver
    EXPECT_EQ(writes[1].bytes[40], 0x42);
}

// Only the frame write's status is kept; the preamble's is ignored, and a
// failed frame write does not skip the acknowledgement wait.
TEST_F(SendSettings, DriverStatusComesFromTheFrameWrite) {
    struct {
        FT_STATUS preamble;
        FT_STATUS frame;
        std::int32_t driverStatus;
    } const cases[] = {
        {zef::d2xx::FT_OK, zef::d2xx::FT_OK, 0},
        {zef::d2xx::FT_IO_ERROR, zef::d2xx::FT_OK, 0},
        {zef::d2xx::FT_OK, zef::d2xx::FT_FAILED_TO_WRITE_DEVICE, 10},
        {zef::d2xx::FT_IO_ERROR, zef::d2xx::FT_DEVICE_NOT_OPENED, 3},
    };
    for (const auto& c : cases) {
        writes.clear();
        writeStatuses = {c.preamble, c.frame};
        zef::deviceState.driverStatus = 77;
        zef::sendSettingsFrame(worker_);
        EXPECT_EQ(writes.size(), 2U) << "the frame follows a failed preamble";
        EXPECT_EQ(zef::deviceState.driverStatus.load(), c.driverStatus)
            << "preamble " << c.preamble << ", frame " << c.frame;
    }
}

// Lowered after the frame write, not before: an acknowledgement that was
// already queued when the frame went out still ends the wait.
TEST_F(SendSettings, LowersSettingsAckedOnlyAfterTheFrameWrite) {
    zef::sendSettingsFrame(worker_);
    ASSERT_EQ(writes.size(), 2U);
    EXPECT_TRUE(writes[1].ackedDuringWrite);
    EXPECT_FALSE(zef::deviceState.settingsAcked.load());
}

TEST_F(SendSettings, UnboundDriverLeavesItsStatus) {
    zef::driverTable.slots.at(slotOf("FT_Write")).store(nullptr);
    zef::sendSettingsFrame(worker_);
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(zef::deviceState.driverStatus.load(), static_cast<std::int32_t>(zef::kUnboundStatus));
}

} // namespace

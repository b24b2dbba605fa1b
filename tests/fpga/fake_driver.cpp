#include "fake_driver.h"
#include "usb_func/open_device.h"

#include "plugin/device_state.h"
#include "usb_func/driver_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace fake {

using namespace zef::d2xx;

Driver driver;

namespace {

int handleTarget = 0;
FT_HANDLE const kHandle = &handleTarget;

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

void log(std::string what) {
    driver.calls.push_back({std::move(what), {}, 0});
}

FT_STATUS ZEF_WINAPI setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    EXPECT_EQ(handle, kHandle);
    log("SetBitMode " + hex(mask) + " " + std::to_string(mode));
    return FT_OK;
}

FT_STATUS ZEF_WINAPI write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    EXPECT_EQ(handle, kHandle);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const WriteReply reply =
        driver.onWrite ? driver.onWrite(driver.writes, size) : WriteReply{FT_OK, size};
    ++driver.writes;
    *written = reply.accepted;
    driver.calls.push_back({"Write " + std::to_string(size),
                            std::vector<std::uint8_t>(bytes, bytes + size),
                            std::min(reply.accepted, size)});
    return reply.status;
}

FT_STATUS ZEF_WINAPI getStatus(FT_HANDLE handle, DWORD* received, DWORD* queued, DWORD* events) {
    EXPECT_EQ(handle, kHandle);
    const QueueReply reply =
        driver.onGetStatus ? driver.onGetStatus(driver.polls) : QueueReply{FT_OK, 0};
    ++driver.polls;
    *received = 0;
    *queued = reply.transmitQueued;
    *events = 0;
    log("GetStatus");
    return reply.status;
}

FT_STATUS ZEF_WINAPI stopInTask(FT_HANDLE /*handle*/) {
    log("StopInTask");
    return FT_OK;
}

FT_STATUS ZEF_WINAPI restartInTask(FT_HANDLE /*handle*/) {
    log("RestartInTask");
    return FT_OK;
}

FT_STATUS ZEF_WINAPI purge(FT_HANDLE /*handle*/, ULONG mask) {
    log("Purge " + std::to_string(mask));
    return FT_OK;
}

template <typename Function> void put(std::string_view name, Function function) {
    const auto slot = std::find(zef::kSlotNames.begin(), zef::kSlotNames.end(), name);
    ASSERT_NE(slot, zef::kSlotNames.end());
    void* address = nullptr;
    static_assert(sizeof address == sizeof function);
    std::memcpy(&address, &function, sizeof address);
    zef::driverTable.slots[static_cast<std::size_t>(slot - zef::kSlotNames.begin())].store(address);
}

} // namespace

void install(bool bridge) {
    driver = Driver{};
    for (auto& slot : zef::driverTable.slots) {
        slot.store(nullptr);
    }
    put("FT_SetBitMode", &setBitMode);
    put("FT_Write", &write);
    put("FT_StopInTask", &stopInTask);
    put("FT_RestartInTask", &restartInTask);
    put("FT_Purge", &purge);
    if (!bridge) {
        put("FT_GetStatus", &getStatus);
    }
    zef::adoptOpenHandle(&zef::deviceState.deviceHandle, kHandle);
    zef::deviceState.bridgeLibrary.store(bridge);
    zef::deviceState.plainLibrary.store(!bridge);
    zef::deviceState.deviceReady.store(false);
    zef::deviceState.settingsChanged.store(false);
    zef::deviceState.driverStatus.store(0);
}

void pass(const zef::platform::Thread& /*worker*/) {
    log("Pass");
    if (driver.onPass) {
        driver.onPass(driver.passes);
    }
    ++driver.passes;
}

void sleep(std::uint32_t milliseconds) {
    log("Sleep " + std::to_string(milliseconds));
}

std::vector<std::string> callNames() {
    std::vector<std::string> names;
    for (const Call& call : driver.calls) {
        names.push_back(call.what);
    }
    return names;
}

std::vector<std::uint8_t> trailer() {
    std::vector<std::uint8_t> bytes;
    for (int pair = 0; pair < 64; ++pair) {
        bytes.insert(bytes.end(), {0x85, 0x81});
    }
    return bytes;
}

std::vector<std::uint8_t> imageStream() {
    std::vector<std::uint8_t> stream;
    std::size_t write = 0;
    for (const Call& call : driver.calls) {
        if (call.what.starts_with("Write") && write++ >= 2) {
            if (call.offered == trailer()) {
                break;
            }
            stream.insert(stream.end(), call.offered.begin(),
                          call.offered.begin() + static_cast<std::ptrdiff_t>(call.accepted));
        }
    }
    return stream;
}

std::vector<std::uint8_t> decodeBitBang(const std::vector<std::uint8_t>& stream) {
    EXPECT_EQ(stream.size() % 16, 0U);
    std::vector<std::uint8_t> image;
    unsigned value = 0;
    for (std::size_t at = 0; at + 1 < stream.size(); at += 2) {
        const unsigned bit = stream[at] & 1U;
        EXPECT_EQ(stream[at], 0x80U | bit) << "clock-low byte at " << at;
        EXPECT_EQ(stream[at + 1], 0x84U | bit) << "clock-high byte at " << at + 1;
        value = (value << 1) | bit;
        if (at % 16 == 14) {
            image.push_back(static_cast<std::uint8_t>(value));
            value = 0;
        }
    }
    return image;
}

} // namespace fake

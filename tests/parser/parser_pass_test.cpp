// parserPass against a D2XX driver inside the test: its two functions sit in
// driverTable's slots and serve a byte queue.
#include "parser_support.h"
#include "usb_func/open_device.h"

#include "main_thread/stream_parser.h"
#include "plugin/device_state.h"
#include "usb_func/device_session.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <string_view>
#include <thread>

namespace {

using namespace parser_test;
using namespace zef::d2xx;
namespace sim = zef::sim;

struct FakeDriver {
    std::deque<std::uint8_t> queue;
    std::vector<DWORD> readSizes;
    FT_STATUS queueStatus = FT_OK;
    FT_STATUS readStatus = FT_OK;
};

FakeDriver fake;
int handleTarget = 0;

FT_STATUS ZEF_WINAPI getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    EXPECT_EQ(handle, &handleTarget);
    // A failing driver may leave anything in the count.
    *rxBytes = static_cast<DWORD>(fake.queue.size());
    return fake.queueStatus;
}

FT_STATUS ZEF_WINAPI read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    EXPECT_EQ(handle, &handleTarget);
    fake.readSizes.push_back(size);
    const auto n = std::min<std::size_t>(size, fake.queue.size());
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::copy_n(fake.queue.begin(), n, out);
    fake.queue.erase(fake.queue.begin(), fake.queue.begin() + static_cast<std::ptrdiff_t>(n));
    *got = static_cast<DWORD>(n);
    return fake.readStatus;
}

void install(std::string_view name, void* function) {
    const auto& names = zef::kSlotNames;
    const auto* slot = std::find_if(names.begin(), names.end(),
                                    [name](const char* entry) { return name == entry; });
    ASSERT_NE(slot, names.end());
    zef::driverTable.slots[static_cast<std::size_t>(slot - names.begin())].store(function);
}

template <typename Function> void* address(Function* function) {
    void* result = nullptr;
    std::memcpy(&result, &function, sizeof result);
    return result;
}

class ParserPass : public ::testing::Test {
  protected:
    void SetUp() override {
        resetAll();
        fake = FakeDriver{};
        install("FT_GetQueueStatus", address(&getQueueStatus));
        install("FT_Read", address(&read));
        zef::adoptOpenHandle(&zef::deviceState.deviceHandle, &handleTarget);
    }
    void queueFrames(std::uint32_t first, std::uint32_t count) {
        std::vector<std::uint8_t> stream;
        for (std::uint32_t n = first; n < first + count; ++n) {
            appendSampleFrame(stream, n);
        }
        fake.queue.insert(fake.queue.end(), stream.begin(), stream.end());
    }
    IdleWorker worker_;
};

TEST_F(ParserPass, ReadsAtMost65000BytesAndLeavesTheRestQueued) {
    queueFrames(0, 34); // 34 * 2076 = 70584 bytes
    fake.queue.resize(70000);
    zef::parserPass(worker_);
    EXPECT_EQ(fake.readSizes, std::vector<DWORD>{65000});
    EXPECT_EQ(fake.queue.size(), 5000U);
    // Frame 31 straddles the 65000th byte.
    EXPECT_EQ(host.deliveries.size(), 31U);
    zef::parserPass(worker_);
    EXPECT_EQ(fake.readSizes, (std::vector<DWORD>{65000, 5000}));
    EXPECT_EQ(host.deliveries.size(), 33U);
    EXPECT_EQ(host.deliveries.back().frameNumber, 32);
}

TEST_F(ParserPass, EmptyQueueDoesNotRead) {
    zef::parserPass(worker_);
    EXPECT_TRUE(fake.readSizes.empty());
}

TEST_F(ParserPass, FailedCallsCountAsNothing) {
    queueFrames(0, 1);
    fake.queueStatus = FT_IO_ERROR;
    zef::parserPass(worker_);
    EXPECT_TRUE(fake.readSizes.empty());

    fake.queueStatus = FT_OK;
    fake.readStatus = FT_IO_ERROR;
    zef::parserPass(worker_);
    EXPECT_EQ(fake.readSizes.size(), 1U);
    EXPECT_TRUE(host.deliveries.empty());
    EXPECT_EQ(zef::parserState.runLength, 0U);
}

TEST_F(ParserPass, UnboundDriverDoesNothing) {
    install("FT_GetQueueStatus", nullptr);
    queueFrames(0, 1);
    zef::parserPass(worker_);
    EXPECT_TRUE(fake.readSizes.empty());
}

TEST_F(ParserPass, CallbackRunsWithoutTheDriverLock) {
    queueFrames(0, 1);
    std::atomic<bool> lockTaken{false};
    std::thread other;
    host.duringCallback = [&] {
        other = std::thread([&] {
            zef::platform::LockGuard guard(zef::driverLock());
            lockTaken.store(true);
        });
        for (int i = 0; i < 2000 && !lockTaken.load(); ++i) {
            zef::platform::sleepMs(1);
        }
        EXPECT_TRUE(lockTaken.load());
    };
    zef::parserPass(worker_);
    other.join();
    EXPECT_EQ(host.deliveries.size(), 1U);
}

// What an open does to the session, as OpenDevice does it; the load it asks
// for is taken at once, so the new device's bytes are read.
void reopen() {
    {
        zef::platform::LockGuard guard(zef::driverLock());
        zef::beginDeviceSession();
    }
    zef::loadEnded(zef::takeLoadRequest());
}

void queueStatus(std::uint8_t state) {
    const std::array<std::uint8_t, sim::kCalibrationSize> block{};
    std::vector<std::uint8_t> stream;
    sim::appendFrame(stream, sim::kStatusType, sim::statusBody(state, 0, block, block));
    fake.queue.insert(fake.queue.end(), stream.begin(), stream.end());
}

// Bytes read from one device are parsed for that device or dropped: neither
// a ready status nor the first half of a frame from before a reopen counts
// for the device after it.
TEST_F(ParserPass, BytesFromBeforeAReopenNeverCountForTheNewDevice) {
    queueFrames(0, 1);
    queueStatus(sim::kStateReady);
    host.duringCallback = [] { reopen(); };
    zef::parserPass(worker_);
    EXPECT_EQ(host.deliveries.size(), 1U);
    EXPECT_FALSE(zef::deviceState.deviceReady.load());

    host.duringCallback = nullptr;
    queueFrames(1, 1);
    fake.queue.resize(1000);
    zef::parserPass(worker_);
    reopen();
    queueFrames(1, 1);
    fake.queue.erase(fake.queue.begin(), fake.queue.begin() + 1000);
    zef::parserPass(worker_);
    EXPECT_EQ(host.deliveries.size(), 1U);

    queueStatus(sim::kStateReady);
    zef::parserPass(worker_);
    EXPECT_TRUE(zef::deviceState.deviceReady.load());
}

} // namespace

// The bridge's Linux side without Wine: what it lists and opens, its handle
// tokens, its care with the caller's buffers, and how it binds (and names)
// a Linux D2XX library. The simulator's plain library stands in for the
// Linux driver, loaded by path as the bridge loads one.
#include "bridge.h"
#include "linux_driver.h"
#include "word_size.h"

#include "sim/zef_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace zef::winebridge; // NOLINT(google-build-using-namespace)

void* argument(std::uintptr_t value) {
    return reinterpret_cast<void*>(value); // NOLINT(performance-no-int-to-ptr)
}

std::string callLog() {
    std::string log(zefsim_call_log(nullptr, 0) + 1, '\0');
    zefsim_call_log(log.data(), log.size());
    return log;
}

class BridgeCoreOnSimulator : public testing::Test {
  protected:
    void SetUp() override {
        zefsim_reset();
        binding_ = bindLinuxD2xx({{ZEFSIM_PLAIN_PATH, false}});
        ASSERT_TRUE(binding_.bound) << binding_.failure;
        bridge_ = std::make_unique<Bridge>(binding_.d2xx);
    }
    void TearDown() override { zefsim_reset(); }

    Binding binding_;
    std::unique_ptr<Bridge> bridge_;
};

TEST_F(BridgeCoreOnSimulator, ListsOnlyTheInstrumentsByLocationAndOpensNothingElse) {
    zefsim_add_device("FT232R USB UART", 0x11, 0, 0);
    zefsim_add_device("ZEF418", 0x31, 0, 0);
    zefsim_add_device("Digital Oscilloscope KR27xx", 0x21, 0, 0);
    zefsim_add_device("Digital Oscilloscope", 0x41, 0, 0);
    zefsim_add_device("ZEF418 B", 0x05, 0, 0);
    Bridge& bridge = *bridge_;
    DWORD count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(&count), FT_OK);
    ASSERT_EQ(count, 2U);
    const struct {
        DWORD location;
        const char* description;
    } expected[] = {{0x21, "Digital Oscilloscope KR27xx"}, {0x31, "ZEF418"}};
    for (std::uintptr_t index = 0; index < count; ++index) {
        DWORD location = 0;
        char description[kDescriptionSize] = {};
        EXPECT_EQ(
            bridge.listDevices(argument(index), &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION),
            FT_OK);
        EXPECT_EQ(bridge.listDevices(argument(index), description,
                                     FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
                  FT_OK);
        EXPECT_EQ(location, expected[index].location);
        EXPECT_STREQ(description, expected[index].description);
    }
    DWORD number = 0;
    EXPECT_EQ(bridge.listDevices(&number, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(number, 2U);
    std::array<DWORD, 2> locations{};
    EXPECT_EQ(bridge.listDevices(locations.data(), &number, FT_LIST_ALL | FT_OPEN_BY_LOCATION),
              FT_OK);
    EXPECT_EQ(locations, (std::array<DWORD, 2>{0x21, 0x31}));
    char first[kDescriptionSize] = {};
    char second[kDescriptionSize] = {};
    char* buffers[] = {first, second, nullptr};
    EXPECT_EQ(bridge.listDevices(buffers, &number, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_STREQ(second, "ZEF418");

    FT_HANDLE handle = nullptr;
    EXPECT_EQ(bridge.open(2, &handle), FT_DEVICE_NOT_FOUND);
    ASSERT_EQ(bridge.open(0, &handle), FT_OK);
    EXPECT_EQ(bridge.close(handle), FT_OK);
    char foreign[] = "FT232R USB UART";
    EXPECT_EQ(bridge.openEx(foreign, FT_OPEN_BY_DESCRIPTION, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(bridge.openEx(argument(0x11), FT_OPEN_BY_LOCATION, &handle), FT_DEVICE_NOT_FOUND);
    char zef418[] = "ZEF418";
    ASSERT_EQ(bridge.openEx(zef418, FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
    EXPECT_EQ(bridge.close(handle), FT_OK);
    const std::string log = callLog();
    EXPECT_NE(log.find("FT_OpenEx 0x21 4"), std::string::npos) << log;
    EXPECT_NE(log.find("FT_OpenEx 0x31 4"), std::string::npos) << log;
    EXPECT_EQ(log.find("FT_OpenEx 0x11"), std::string::npos) << log;
    EXPECT_EQ(log.find("FT_OpenEx 0x5 "), std::string::npos) << log;
    EXPECT_EQ(log.find("FT_Open "), std::string::npos) << "only by location:\n" << log;
}

TEST_F(BridgeCoreOnSimulator, HandlesAreTokensThatDieWithTheirCloseAndStatusesPassUnchanged) {
    zefsim_add_device("ZEF418", 0x12, 0, 0);
    zefsim_add_device("ZEF418", 0x13, 1, 0); // held by another program
    Bridge& bridge = *bridge_;
    FT_HANDLE first = nullptr;
    FT_HANDLE second = nullptr;
    ASSERT_EQ(bridge.open(0, &first), FT_OK);
    EXPECT_EQ(bridge.open(1, &second), FT_DEVICE_NOT_OPENED) << "the Linux library's status";
    DWORD queued = 7;
    EXPECT_EQ(bridge.getQueueStatus(first, &queued), FT_OK);
    EXPECT_EQ(bridge.setBaudRate(first, 3000000), FT_OK);
    zefsim_set_fault(ZEFSIM_FAIL_WRITES, 1);
    std::uint8_t byte = 0xA5;
    DWORD written = 9;
    EXPECT_EQ(bridge.write(first, &byte, 1, &written), FT_IO_ERROR) << "the Linux library's status";
    EXPECT_EQ(bridge.close(first), FT_OK);
    EXPECT_EQ(bridge.close(first), FT_INVALID_HANDLE);
    EXPECT_EQ(bridge.getQueueStatus(first, &queued), FT_INVALID_HANDLE);
    EXPECT_EQ(bridge.read(argument(0x7FFFFFF0), &byte, 1, &written), FT_INVALID_HANDLE);
    ASSERT_EQ(bridge.open(0, &second), FT_OK);
    EXPECT_NE(second, first) << "a token is never handed out twice";
    EXPECT_EQ(bridge.close(second), FT_OK);
}

// The plug-in lists and reopens on the host's thread while its worker reads:
// the bridge's list and handle table must hold (ThreadSanitizer watches).
TEST_F(BridgeCoreOnSimulator, ListsOpensAndReadsFromSeveralThreadsAtOnce) {
    zefsim_add_device("ZEF418", 0x12, 0, 0);
    zefsim_add_device("ZEF418", 0x13, 0, 0);
    Bridge& bridge = *bridge_;
    FT_HANDLE reading = nullptr;
    ASSERT_EQ(bridge.open(0, &reading), FT_OK);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::array<std::uint8_t, 64> bytes{};
        while (!done.load()) {
            DWORD queued = 0;
            DWORD got = 0;
            EXPECT_EQ(bridge.getQueueStatus(reading, &queued), FT_OK);
            EXPECT_EQ(bridge.read(reading, bytes.data(), std::min<DWORD>(queued, 64), &got), FT_OK);
        }
    });
    for (int round = 0; round < 200; ++round) {
        DWORD count = 0;
        char description[kDescriptionSize] = {};
        FT_HANDLE other = nullptr;
        EXPECT_EQ(bridge.createDeviceInfoList(&count), FT_OK);
        EXPECT_EQ(
            bridge.listDevices(argument(1), description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
            FT_OK);
        ASSERT_EQ(bridge.open(1, &other), FT_OK);
        EXPECT_EQ(bridge.close(other), FT_OK);
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(bridge.close(reading), FT_OK);
}

// A Linux library that writes more than it may, and reports more than it
// moved: the caller's buffers see neither.
namespace overrun {
FT_STATUS listDevices(void* /*arg1*/, void* arg2, DWORD flags) {
    if ((flags & FT_OPEN_BY_LOCATION) != 0) {
        *static_cast<DWORD*>(arg2) = 0x12;
    } else {
        std::memset(arg2, 'Z', 3 * kDescriptionSize); // no terminator within 64 bytes
        std::memcpy(arg2, "ZEF418", 7);               // an instrument, by its first 7 bytes
    }
    return FT_OK;
}
FT_STATUS createDeviceInfoList(DWORD* count) {
    *count = 1;
    return FT_OK;
}
FT_STATUS openEx(void* /*arg*/, DWORD /*flags*/, FT_HANDLE* handle) {
    static int device = 0;
    *handle = &device;
    return FT_OK;
}
FT_STATUS read(FT_HANDLE /*handle*/, void* /*buffer*/, DWORD size, DWORD* got) {
    *got = size + 100;
    return FT_OK;
}
} // namespace overrun

TEST(BridgeCoreBuffers, NothingIsCopiedPastTheCallersBuffersNorReportedBeyondThem) {
    LinuxD2xx d2xx;
    d2xx.listDevices = &overrun::listDevices;
    d2xx.createDeviceInfoList = &overrun::createDeviceInfoList;
    d2xx.openEx = &overrun::openEx;
    d2xx.read = &overrun::read;
    Bridge bridge(d2xx);
    std::array<char, 3 * kDescriptionSize> guarded{};
    guarded.fill('.');
    EXPECT_EQ(bridge.listDevices(argument(0), guarded.data() + kDescriptionSize,
                                 FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_OK);
    EXPECT_STREQ(guarded.data() + kDescriptionSize, "ZEF418");
    for (std::size_t at = 0; at < guarded.size(); ++at) {
        if (at < kDescriptionSize || at >= kDescriptionSize + 7) {
            EXPECT_EQ(guarded[at], '.') << "byte " << at;
        }
    }
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(bridge.open(0, &handle), FT_OK);
    std::array<std::uint8_t, 16> bytes{};
    DWORD got = 0;
    EXPECT_EQ(bridge.read(handle, bytes.data(), bytes.size(), &got), FT_OK);
    EXPECT_EQ(got, bytes.size());
    // Null pointers are refused before the Linux library sees them.
    EXPECT_EQ(bridge.read(handle, bytes.data(), bytes.size(), nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.read(handle, nullptr, 1, &got), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.getQueueStatus(handle, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.createDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.open(0, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.openEx(nullptr, FT_OPEN_BY_DESCRIPTION, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.listDevices(argument(0), nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(bridge.listDevices(argument(0), &got, 0), FT_INVALID_PARAMETER);
}

// The choice follows the plug-in's rules on Linux, without the bridge
// library itself; a failure names each candidate and why.
TEST(BridgeCoreBinding, ChoosesAsThePlugInDoesAndNamesWhyEachCandidateFailed) {
    unsetenv("ZEF_D2XX");
    std::vector<zef::DriverCandidate> order = linuxCandidates();
    ASSERT_EQ(order.size(), 2U);
    EXPECT_EQ(order[0].file, "libftd2xx.so");
    EXPECT_EQ(order[1].file, zef::openDriverPath());
    setenv("ZEF_D2XX", "/some/where/libd2xx.so", 1);
    order = linuxCandidates();
    ASSERT_EQ(order.size(), 1U);
    EXPECT_EQ(order[0].file, "/some/where/libd2xx.so");
    unsetenv("ZEF_D2XX");

    // An ELF header of the other word size.
    const std::string otherSize = std::filesystem::temp_directory_path() /
                                  ("zef-other-word-size-" + std::to_string(getpid()) + ".so");
    {
        std::ofstream file(otherSize, std::ios::binary);
        const char header[] = {0x7F, 'E', 'L', 'F', kProcessWordSize == 64 ? 1 : 2, 1, 1, 0};
        file.write(header, sizeof header);
        file << std::string(56, '\0');
    }
    const std::string other = std::to_string(kProcessWordSize == 64 ? 32 : 64);
    EXPECT_EQ(elfWordSize(otherSize), kProcessWordSize == 64 ? 32 : 64);
    const Binding failed = bindLinuxD2xx({{"libzef-no-such-d2xx.so", false},
                                          {"/nonexistent/libzefd2xx.so", false},
                                          {otherSize, false},
                                          {ZEFSIM_NO_PURGE_PATH, false}});
    std::filesystem::remove(otherSize);
    EXPECT_FALSE(failed.bound);
    EXPECT_EQ(failed.failure, "libzef-no-such-d2xx.so: not found by the dynamic loader; "
                              "/nonexistent/libzefd2xx.so: not there; " +
                                  otherSize + ": a " + other + "-bit library, and this " +
                                  std::to_string(kProcessWordSize) +
                                  "-bit Windows program can load only a " +
                                  std::to_string(kProcessWordSize) + "-bit one; " +
                                  ZEFSIM_NO_PURGE_PATH + ": lacks FT_Purge");

    const Binding bound =
        bindLinuxD2xx({{"/nonexistent/libzefd2xx.so", false}, {ZEFSIM_PLAIN_PATH, false}});
    EXPECT_TRUE(bound.bound);
    EXPECT_EQ(bound.file, ZEFSIM_PLAIN_PATH);
    EXPECT_EQ(bound.failure, "/nonexistent/libzefd2xx.so: not there") << "what was passed over";
}

} // namespace

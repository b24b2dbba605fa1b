// The loader's byte stream and calls, against the fake driver.
#include "fake_driver.h"

#include "main_thread/bitbang_expansion.h"
#include "main_thread/fpga_loader.h"
#include "plugin/device_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>

namespace {

using zef::deviceState;
using namespace zef::d2xx;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using fake::WriteReply;

Bytes pattern(std::size_t length) {
    Bytes image(length);
    for (std::size_t at = 0; at < length; ++at) {
        image[at] = static_cast<std::uint8_t>(at * 37 + 11);
    }
    return image;
}

Bytes expanded(const Bytes& image) {
    Bytes stream(image.size() * 16);
    zef::expandImageBytes(image, stream.data());
    return stream;
}

std::size_t count(const std::string& name) {
    const Names names = fake::callNames();
    return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
}

class FpgaLoader : public testing::Test {
  protected:
    void SetUp() override { fake::install(false); }
    void load(const Bytes& image) {
        zef::ConfigureFpga(worker, {static_cast<std::uint32_t>(image.size()), image.data()},
                           {fake::pass, fake::sleep});
    }
    fake::Worker worker;
};

TEST(BitBangExpansion, ImageBytesBecomeClockedDataBits) {
    const std::vector<std::pair<std::uint8_t, Bytes>> cases = {
        {0xA5,
         {0x81, 0x85, 0x80, 0x84, 0x81, 0x85, 0x80, 0x84, 0x80, 0x84, 0x81, 0x85, 0x80, 0x84, 0x81,
          0x85}},
        {0x00,
         {0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80,
          0x84}},
        {0xFF,
         {0x81, 0x85, 0x81, 0x85, 0x81, 0x85, 0x81, 0x85, 0x81, 0x85, 0x81, 0x85, 0x81, 0x85, 0x81,
          0x85}},
        {0x01,
         {0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x80, 0x84, 0x81,
          0x85}},
    };
    for (const auto& [value, bytes] : cases) {
        EXPECT_EQ(expanded({value}), bytes) << int{value};
    }
    Bytes every(256);
    std::iota(every.begin(), every.end(), std::uint8_t{0});
    EXPECT_EQ(fake::decodeBitBang(expanded(every)), every);
}

TEST_F(FpgaLoader, SendsTheWholeSequenceInOrder) {
    fake::driver.onGetStatus = [](std::size_t poll) {
        return fake::QueueReply{FT_OK, poll == 0 ? 300U : 0U};
    };
    fake::driver.onPass = [](std::size_t) { deviceState.deviceReady.store(true); };
    load({0xA5, 0x3C});

    const Names expected = {"SetBitMode 85 1", "Write 1",         "Sleep 25",   "Write 1",
                            "Sleep 50",        "Write 32",        "Write 128",  "GetStatus",
                            "GetStatus",       "SetBitMode 85 0", "StopInTask", "Purge 1",
                            "RestartInTask",   "Write 3",         "Pass"};
    ASSERT_EQ(fake::callNames(), expected);
    const auto& calls = fake::driver.calls;
    EXPECT_EQ(calls[1].offered, Bytes{0x00});
    EXPECT_EQ(calls[3].offered, Bytes{0x80});
    EXPECT_EQ(calls[5].offered, expanded({0xA5, 0x3C}));
    EXPECT_EQ(calls[6].offered, fake::trailer());
    EXPECT_EQ(calls[13].offered, (Bytes{0xA5, 0x00, 0x00}));
    EXPECT_TRUE(deviceState.settingsChanged.load());
    EXPECT_EQ(deviceState.driverStatus.load(), 0);
}

TEST_F(FpgaLoader, ChunksOf256StopAtTheImageEnd) {
    for (const std::size_t length : {0U, 1U, 255U, 256U, 257U, 600U, 1024U}) {
        fake::install(false);
        const Bytes image = pattern(length);
        load(image);
        EXPECT_EQ(fake::decodeBitBang(fake::imageStream()), image) << length;
        Names writes;
        for (std::size_t left = length; left > 0; left -= std::min<std::size_t>(left, 256)) {
            writes.push_back("Write " + std::to_string(16 * std::min<std::size_t>(left, 256)));
        }
        const Names names = fake::callNames();
        const Names sent(names.begin() + 5, names.begin() + 5 + static_cast<long>(writes.size()));
        EXPECT_EQ(sent, writes) << length;
        // The rest of the load runs even for an empty image.
        EXPECT_EQ(names[5 + writes.size()], "Write 128") << length;
        EXPECT_EQ(count("Write 3"), 1U) << length;
        EXPECT_EQ(names.back(), "Sleep 5") << length;
    }
}

TEST_F(FpgaLoader, PartialWritesContinueFromTheFirstByteNotAccepted) {
    const std::vector<DWORD> accepts = {1, 4095, 333, 16, 7, 2048, 5};
    fake::driver.onWrite = [&](std::size_t index, DWORD size) {
        return fake::WriteReply{FT_OK, std::min(size, accepts[index % accepts.size()])};
    };
    const Bytes image = pattern(700);
    load(image);

    const Bytes stream = expanded(image);
    std::size_t at = 0;
    for (std::size_t call = 5; fake::driver.calls[call].offered != fake::trailer(); ++call) {
        const fake::Call& write = fake::driver.calls[call];
        ASSERT_LE(at + write.offered.size(), stream.size());
        EXPECT_TRUE(std::equal(write.offered.begin(), write.offered.end(),
                               stream.begin() + static_cast<long>(at)))
            << "write " << call << " does not start at byte " << at;
        at += write.accepted;
    }
    EXPECT_EQ(at, stream.size());
    EXPECT_EQ(fake::decodeBitBang(fake::imageStream()), image);
}

TEST_F(FpgaLoader, AFailedOrEmptyChunkWriteAbandonsTheLoad) {
    struct Case {
        WriteReply failure;
        std::int32_t status;
    };
    for (const Case& c : {Case{{FT_IO_ERROR, 0}, FT_IO_ERROR},
                          Case{{FT_FAILED_TO_WRITE_DEVICE, 100}, FT_FAILED_TO_WRITE_DEVICE},
                          Case{{FT_OK, 0}, FT_IO_ERROR}}) {
        fake::install(false);
        // The second chunk: half accepted, then the failure.
        fake::driver.onWrite = [&](std::size_t index, DWORD size) {
            return index == 3   ? WriteReply{FT_OK, size / 2}
                   : index == 4 ? c.failure
                                : WriteReply{FT_OK, size};
        };
        load(pattern(1024));
        EXPECT_EQ(fake::driver.writes, 5U);
        EXPECT_EQ(fake::callNames().back(), "SetBitMode 85 0");
        EXPECT_EQ(fake::driver.passes, 0U);
        EXPECT_FALSE(deviceState.settingsChanged.load());
        EXPECT_EQ(deviceState.driverStatus.load(), c.status);
    }
}

// A device that missed its program pulse, trailer or start command has no
// gateware although the link works: the load must not pass for done.
TEST_F(FpgaLoader, AFailedControlWriteAbandonsTheLoadToo) {
    // Writes of a 1024-byte image: 0 pulse, 1 release, 2-5 chunks, 6 trailer, 7 start.
    for (const std::size_t failing : {0U, 1U, 6U, 7U}) {
        fake::install(false);
        fake::driver.onWrite = [&](std::size_t index, DWORD size) {
            return index == failing ? WriteReply{FT_IO_ERROR, 0} : WriteReply{FT_OK, size};
        };
        const Bytes image = pattern(1024);
        EXPECT_FALSE(zef::ConfigureFpga(worker,
                                        {static_cast<std::uint32_t>(image.size()), image.data()},
                                        {fake::pass, fake::sleep}))
            << "write " << failing;
        EXPECT_EQ(fake::driver.writes, failing + 1) << "nothing written after the failure";
        EXPECT_EQ(fake::driver.passes, 0U);
        EXPECT_FALSE(deviceState.settingsChanged.load());
        EXPECT_EQ(deviceState.driverStatus.load(), static_cast<std::int32_t>(FT_IO_ERROR));
    }
}

TEST_F(FpgaLoader, ATerminateRequestStopsTheImageBetweenChunks) {
    fake::driver.onWrite = [&](std::size_t index, DWORD size) {
        if (index == 4) {
            worker.requestTerminate();
        }
        return WriteReply{FT_OK, size};
    };
    load(pattern(std::size_t{10} * 256));
    EXPECT_EQ(fake::driver.writes, 5U); // pulse, release, three chunks
    EXPECT_EQ(fake::callNames().back(), "SetBitMode 85 0");
    EXPECT_FALSE(deviceState.settingsChanged.load());
    EXPECT_EQ(deviceState.driverStatus.load(), 0);
}

TEST_F(FpgaLoader, DrainWaitsForTheTransmitQueue) {
    fake::install(true); // the bridge library has no FT_GetStatus
    load(pattern(3));
    EXPECT_EQ(count("Sleep 500"), 1U);
    EXPECT_EQ(count("GetStatus"), 0U);

    fake::install(false);
    fake::driver.onGetStatus = [](std::size_t poll) {
        return fake::QueueReply{FT_OK, std::vector<DWORD>{5000, 120, 0}.at(poll)};
    };
    load(pattern(3));
    EXPECT_EQ(count("GetStatus"), 3U);
    EXPECT_EQ(count("Sleep 500"), 0U);

    fake::install(false);
    fake::driver.onGetStatus = [](std::size_t) { return fake::QueueReply{FT_IO_ERROR, 4096}; };
    load(pattern(3));
    EXPECT_EQ(count("GetStatus"), 1U);
    EXPECT_EQ(count("Write 3"), 1U); // the load goes on
}

TEST_F(FpgaLoader, DrainOfAQueueThatNeverEmptiesIsBounded) {
    fake::driver.onGetStatus = [](std::size_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a USB round trip
        return fake::QueueReply{FT_OK, 1};
    };
    const auto start = std::chrono::steady_clock::now();
    load(pattern(3));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(zef::kPlainDrainLimitMs));
    EXPECT_LT(took, std::chrono::milliseconds(zef::kPlainDrainLimitMs + 2000));
    EXPECT_EQ(count("Write 3"), 1U);
}

TEST_F(FpgaLoader, ReadyWaitPassesAndPauses) {
    struct Case {
        bool readyBefore;
        std::size_t readyOnPass; // 0: never
        std::size_t terminateOnPass;
        std::size_t passes;
        std::size_t pauses;
        bool settingsChanged;
    };
    for (const Case& c : {Case{false, 3, 0, 3, 2, true}, Case{false, 0, 0, 200, 200, true},
                          Case{false, 0, 2, 2, 1, false}, Case{true, 0, 0, 1, 0, true}}) {
        fake::install(false);
        fake::Worker waiting;
        deviceState.deviceReady.store(c.readyBefore);
        fake::driver.onPass = [&](std::size_t index) {
            if (index + 1 == c.readyOnPass) {
                deviceState.deviceReady.store(true);
            }
            if (index + 1 == c.terminateOnPass) {
                waiting.requestTerminate();
            }
        };
        zef::ConfigureFpga(waiting, {1, pattern(1).data()}, {fake::pass, fake::sleep});
        EXPECT_EQ(fake::driver.passes, c.passes);
        EXPECT_EQ(count("Sleep 5"), c.pauses);
        EXPECT_EQ(deviceState.settingsChanged.load(), c.settingsChanged);
    }
}

TEST_F(FpgaLoader, TheEmbeddedImageGoesOutWhole) {
    deviceState.deviceReady.store(true); // one parser pass, no pauses
    zef::ConfigureFpga(worker);
    const zef::FpgaImage image = zef::fpgaImage();
    const Bytes expected(image.bytes, image.bytes + image.length);
    EXPECT_EQ(fake::decodeBitBang(fake::imageStream()), expected);
    EXPECT_EQ(count("Write 4096"), image.length / 256);
    if (zef::fpgaImageIsPlaceholder()) {
        EXPECT_EQ(count("Write 1248"), 1U); // 78 bytes left over
    }
    EXPECT_TRUE(deviceState.settingsChanged.load());
}

} // namespace

// The open driver through the real libftdi1 and libusb, against FT232R-like
// bridges emulated at usbdevfs.
#include "d2xx_library.h"
#include "usb_testbed.h"
#include "wait_until.h"

#include "fpga_image.h"
#include "main_thread/bitbang_expansion.h"
#include "main_thread/settings_frame.h"
#include "plugin/device_state.h"
#include "zef/instrument.h"
#include "zefd2xx/location.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace zef::usbtest; // NOLINT(google-build-using-namespace)

std::atomic<std::uint64_t> blocks{0};
void countBlock(const std::int16_t* /*pairs*/) {
    blocks.fetch_add(1);
}

zef::zefd2xx::PortPath pathOf(std::uint8_t bus, std::vector<std::uint8_t> ports,
                              std::uint8_t channel = 0) {
    zef::zefd2xx::PortPath path;
    path.bus = bus;
    path.depth = ports.size();
    std::copy(ports.begin(), ports.end(), path.ports.begin());
    path.channel = channel;
    return path;
}

bool hasZeroDigitBelowTheTop(std::uint32_t id) {
    for (; id > 0xF; id >>= 4U) {
        if ((id & 0xFU) == 0) {
            return true;
        }
    }
    return false;
}

// FTDI's digits wherever they fit, whatever else is plugged in; every other
// path an id with a 0 digit, which FTDI's never have; and every id of a
// listing different, for buses and ports above 15, deep hubs and channels.
TEST(LocationId, FtdisDigitsWhereTheyFitAndDifferentForEveryPath) {
    const struct {
        zef::zefd2xx::PortPath path;
        std::uint32_t location;
    } ftdi[] = {
        {pathOf(1, {}), 0x1},
        {pathOf(1, {2}), 0x12},
        {pathOf(1, {1, 2}), 0x112}, // not bus 1, port 18's
        {pathOf(2, {1, 4}), 0x214},
        {pathOf(2, {1, 4}, 2), 0x2142}, // channel B
        {pathOf(3, {1, 2, 3, 4, 5, 6, 7}), 0x31234567},
        {pathOf(1, {1, 2, 3, 4, 5, 6}, 15), 0x1123456F},
    };
    std::vector<zef::zefd2xx::PortPath> paths;
    for (const auto& c : ftdi) {
        EXPECT_EQ(zef::zefd2xx::ftdiLocation(c.path), c.location);
        paths.push_back(c.path);
    }
    // Past FTDI's form: a bus or port above 15, and seven ports and a channel.
    for (const auto& wide : {pathOf(16, {1}), pathOf(1, {17}), pathOf(1, {18}),
                             pathOf(2, {1, 2, 3, 20}), pathOf(2, {1, 2, 3, 4, 5, 6, 7}, 1)}) {
        EXPECT_FALSE(zef::zefd2xx::ftdiLocation(wide).has_value());
        paths.push_back(wide);
    }
    // Random trees of bridges: a chip of one channel or of two, and never
    // one where another's hub is.
    std::uint32_t seed = 12345;
    const auto random = [&seed](std::uint32_t below) {
        seed = seed * 1103515245U + 12345U;
        return (seed >> 8U) % below;
    };
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> ports(1 + random(7));
        for (std::uint8_t& port : ports) {
            port = static_cast<std::uint8_t>(1 + (random(4) == 0 ? random(255) : random(15)));
        }
        const auto bus = static_cast<std::uint8_t>(1 + random(20));
        const bool twoChannels = random(3) == 0;
        for (std::uint8_t channel = twoChannels ? 1 : 0; channel <= (twoChannels ? 2 : 0);
             ++channel) {
            paths.push_back(pathOf(bus, ports, channel));
        }
    }
    const auto under = [](const zef::zefd2xx::PortPath& hub, const zef::zefd2xx::PortPath& p) {
        return hub.bus == p.bus && hub.depth < p.depth &&
               std::equal(hub.ports.begin(),
                          hub.ports.begin() + static_cast<std::ptrdiff_t>(hub.depth),
                          p.ports.begin());
    };
    std::erase_if(paths, [&](const auto& hub) {
        return std::any_of(paths.begin(), paths.end(),
                           [&](const auto& p) { return under(hub, p); });
    });
    std::sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) {
        return std::tie(a.bus, a.depth, a.ports, a.channel) <
               std::tie(b.bus, b.depth, b.ports, b.channel);
    });
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    std::erase_if(paths, [&](const auto& p) { // one chip per socket: keep the first kind listed
        return p.channel == 0 && std::any_of(paths.begin(), paths.end(), [&](const auto& q) {
                   return q.channel != 0 && q.bus == p.bus && q.depth == p.depth &&
                          q.ports == p.ports;
               });
    });
    ASSERT_GT(paths.size(), 1000U);
    const std::vector<std::uint32_t> ids = zef::zefd2xx::locationIds(paths);
    std::vector<std::uint32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
        << "two of " << paths.size() << " paths share an id";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (const auto own = zef::zefd2xx::ftdiLocation(paths[i])) {
            EXPECT_EQ(ids[i], *own);
            EXPECT_FALSE(hasZeroDigitBelowTheTop(*own));
        } else {
            EXPECT_TRUE(hasZeroDigitBelowTheTop(ids[i])) << std::hex << ids[i];
        }
    }
}

class OpenDriver : public testing::Test {
  protected:
    void SetUp() override {
        if (!underUmockdev()) {
            GTEST_SKIP() << "runs under umockdev's preload library only";
        }
    }
    UsbTestbed bed;
};

TEST_F(OpenDriver, ListsEveryBridgeInLocationOrderAndOpensByLocationOrDescription) {
    bed.plug(1, 2, "ZEF418");
    EmulatedBridge& foreign = bed.plug(1, 1, "FT232R USB UART");
    const D2xxLibrary d2xx(ZEFD2XX_PATH);
    DWORD count = 0;
    ASSERT_EQ(d2xx.entry<FT_STATUS(DWORD*)>("FT_CreateDeviceInfoList")(&count), FT_OK);
    ASSERT_EQ(count, 2U);
    auto* list = d2xx.entry<FT_STATUS(void*, void*, DWORD)>("FT_ListDevices");
    const struct {
        std::uintptr_t index;
        DWORD location;
        const char* description;
    } listed[] = {{0, 0x11, "FT232R USB UART"}, {1, 0x12, "ZEF418"}};
    for (const auto& device : listed) {
        DWORD location = 0;
        char description[kDescriptionSize] = {};
        void* index = reinterpret_cast<void*>(device.index); // NOLINT(performance-no-int-to-ptr)
        EXPECT_EQ(list(index, &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION), FT_OK);
        EXPECT_EQ(list(index, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
        EXPECT_EQ(location, device.location);
        EXPECT_STREQ(description, device.description);
    }
    EXPECT_EQ(foreign.opens(), 0U) << "listing reads sysfs and opens nothing";

    auto* openEx = d2xx.entry<FT_STATUS(void*, DWORD, FT_HANDLE*)>("FT_OpenEx");
    auto* close = d2xx.entry<FT_STATUS(FT_HANDLE)>("FT_Close");
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(openEx(reinterpret_cast<void*>(std::uintptr_t{0x12}), FT_OPEN_BY_LOCATION, &handle),
              FT_OK);
    EXPECT_EQ(close(handle), FT_OK);
    EXPECT_EQ(close(handle), FT_INVALID_HANDLE);
    char name[] = "ZEF418";
    ASSERT_EQ(openEx(name, FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
    EXPECT_EQ(close(handle), FT_OK);
    EXPECT_EQ(openEx(reinterpret_cast<void*>(std::uintptr_t{0x13}), FT_OPEN_BY_LOCATION, &handle),
              FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(foreign.claims(), 0U);

    // The core's own search, through the same driver.
    ASSERT_TRUE(zef::instrument::chooseDriver(ZEFD2XX_PATH));
    const zef::instrument::Listing found = zef::instrument::list();
    EXPECT_EQ(found.status, 0U);
    EXPECT_EQ(found.devices, 2U);
    ASSERT_EQ(found.instruments.size(), 1U);
    EXPECT_EQ(found.instruments[0].location, 0x12U);
    EXPECT_EQ(zef::instrument::state().libraryFile, ZEFD2XX_PATH);
}

// What the plug-in sends crosses the emulated wire unchanged: the gateware
// in bit-bang mode, no faster than a full-speed bus carries it, then the
// settings frame on the UART at 3 MBd. A foreign bridge beside it is never
// opened.
TEST_F(OpenDriver, GatewareAndSettingsFrameReachTheWireByteForByte) {
    EmulatedBridge& foreign = bed.plug(1, 1, "FT232R USB UART");
    EmulatedBridge& zef418 = bed.plug(1, 3, "ZEF418");
    ASSERT_TRUE(zef::instrument::chooseDriver(ZEFD2XX_PATH));
    const auto opening = std::chrono::steady_clock::now();
    ASSERT_EQ(zef::instrument::open(std::nullopt, &countBlock), 0U);
    ASSERT_TRUE(zef::test::waitUntil(
        [] { return zef::instrument::state().lastSettings.frames > 0; }, std::chrono::seconds(15)))
        << "gateware " << static_cast<int>(zef::instrument::state().gateware);
    // 5,371,104 bit-bang bytes at most 19 packets of 64 bytes per 1 ms frame.
    EXPECT_GE(std::chrono::steady_clock::now() - opening, std::chrono::milliseconds(4417))
        << "the gateware crossed the full-speed bus faster than it carries";
    EXPECT_EQ(zef::instrument::start(), 0U);
    ASSERT_TRUE(zef::test::waitUntil([] { return blocks.load() >= 20; }, std::chrono::seconds(5)))
        << zef418.with([](BridgeChannel& bridge) {
               const auto& c = bridge.environment().counters;
               return "frames sent " + std::to_string(c.sample_frames_sent) + ", status frames " +
                      std::to_string(c.status_frames_sent) + ", bytes " +
                      std::to_string(c.bytes_sent) + ", dropped " +
                      std::to_string(c.bytes_dropped) + ", IN transfers " +
                      std::to_string(bridge.wire().inTransfers) + ", blocks " +
                      std::to_string(blocks.load());
           });
    zef::instrument::close();

    const WireLog wire = zef418.with([](BridgeChannel& bridge) { return bridge.wire(); });
    const zef::FpgaImage image = zef::fpgaImage();
    std::vector<std::uint8_t> expanded(image.length * zef::kBitBangBytesPerImageByte);
    zef::expandImageBytes(image.span(), expanded.data());
    EXPECT_NE(
        std::search(wire.bitBang.begin(), wire.bitBang.end(), expanded.begin(), expanded.end()),
        wire.bitBang.end())
        << "the image's bit-bang expansion, whole, among " << wire.bitBang.size() << " bytes";

    const zef::SettingsFrame frame = zef::buildSettingsFrame({zef::deviceState.loWord.load(),
                                                              zef::deviceState.tuneFrequency.load(),
                                                              zef::deviceState.modeCode.load(),
                                                              zef::deviceState.tuneWord.load(),
                                                              zef::deviceState.deviceModel.load(),
                                                              false,
                                                              {}});
    std::vector<std::uint8_t> sent(zef::kSettingsPreamble.begin(), zef::kSettingsPreamble.end());
    sent.insert(sent.end(), frame.begin(), frame.end());
    EXPECT_NE(std::search(wire.uart.begin(), wire.uart.end(), sent.begin(), sent.end()),
              wire.uart.end());
    EXPECT_EQ(zef418.with([](BridgeChannel& bridge) { return bridge.baud(); }), 3000000U);
    EXPECT_GE(wire.inTransfers, 10U) << "20 blocks need that many 4 KiB transfers";
    EXPECT_EQ(foreign.claims(), 0U);
    EXPECT_TRUE(
        foreign.with([](BridgeChannel& bridge) { return bridge.wire().vendorRequests.empty(); }));
}

// A bulk-IN submit refused with anything but "no device" is tried again: a
// few refused (usbfs out of memory) cost only time, and the stream goes on;
// a hub that keeps refusing them ends the stream within a bounded time with
// FT_IO_ERROR, so that the plug-in's link check and reopen take over. With no
// gateware the bridge still answers every 2 ms with its status bytes.
TEST_F(OpenDriver, RefusedSubmitsAreRetriedAndAStreamThatCannotRestartIsAnIoError) {
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418");
    const D2xxLibrary d2xx(ZEFD2XX_PATH);
    DWORD count = 0;
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(d2xx.entry<FT_STATUS(DWORD*)>("FT_CreateDeviceInfoList")(&count), FT_OK);
    ASSERT_EQ(d2xx.entry<FT_STATUS(int, FT_HANDLE*)>("FT_Open")(0, &handle), FT_OK);
    ASSERT_EQ(d2xx.entry<FT_STATUS(FT_HANDLE, UCHAR)>("FT_SetLatencyTimer")(handle, 2), FT_OK);
    auto* queue = d2xx.entry<FT_STATUS(FT_HANDLE, DWORD*)>("FT_GetQueueStatus");
    const auto transfers = [&] {
        return zef418.with([](BridgeChannel& bridge) { return bridge.wire().inTransfers; });
    };

    zef418.faults([](UrbFaults& f) { f.inject(UrbKind::BulkIn, {.submitErrno = ENOMEM}, 40); });
    const std::size_t before = transfers();
    ASSERT_TRUE(
        zef::test::waitUntil([&] { return transfers() > before + 100; }, std::chrono::seconds(5)))
        << "the stream never came back";
    EXPECT_EQ(queue(handle, &count), FT_OK);

    zef418.faults([](UrbFaults& f) { f.inject(UrbKind::BulkIn, {.submitErrno = EIO}, SIZE_MAX); });
    const auto refusing = std::chrono::steady_clock::now();
    ASSERT_TRUE(zef::test::waitUntil([&] { return queue(handle, &count) == FT_IO_ERROR; },
                                     std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - refusing, std::chrono::milliseconds(2500));
    std::uint8_t bytes[16] = {};
    DWORD moved = 0;
    EXPECT_EQ(d2xx.entry<FT_STATUS(FT_HANDLE, void*, DWORD, DWORD*)>("FT_Read")(
                  handle, bytes, sizeof bytes, &moved),
              FT_IO_ERROR);
    EXPECT_EQ(d2xx.entry<FT_STATUS(FT_HANDLE)>("FT_Close")(handle), FT_OK);
}

TEST_F(OpenDriver, EveryCallAfterTheUnplugIsAnIoError) {
    EmulatedBridge& zef418 = bed.plug(2, 4, "ZEF418");
    const D2xxLibrary d2xx(ZEFD2XX_PATH);
    FT_HANDLE handle = nullptr;
    DWORD count = 0;
    ASSERT_EQ(d2xx.entry<FT_STATUS(DWORD*)>("FT_CreateDeviceInfoList")(&count), FT_OK);
    ASSERT_EQ(d2xx.entry<FT_STATUS(int, FT_HANDLE*)>("FT_Open")(0, &handle), FT_OK);
    auto* queue = d2xx.entry<FT_STATUS(FT_HANDLE, DWORD*)>("FT_GetQueueStatus");
    auto* read = d2xx.entry<FT_STATUS(FT_HANDLE, void*, DWORD, DWORD*)>("FT_Read");
    auto* write = d2xx.entry<FT_STATUS(FT_HANDLE, void*, DWORD, DWORD*)>("FT_Write");
    auto* baud = d2xx.entry<FT_STATUS(FT_HANDLE, ULONG)>("FT_SetBaudRate");
    auto* timeouts = d2xx.entry<FT_STATUS(FT_HANDLE, ULONG, ULONG)>("FT_SetTimeouts");
    ASSERT_EQ(timeouts(handle, 50, 50), FT_OK);
    EXPECT_EQ(queue(handle, &count), FT_OK);
    // No gateware, so nothing to read: the read returns with none at its time-out.
    std::uint8_t bytes[16] = {};
    DWORD moved = 1;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(read(handle, bytes, sizeof bytes, &moved), FT_OK);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(moved, 0U);
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    bed.remove(zef418);
    EXPECT_TRUE(zef::test::waitUntil([&] { return queue(handle, &count) == FT_IO_ERROR; },
                                     std::chrono::seconds(2)));
    EXPECT_EQ(read(handle, bytes, sizeof bytes, &moved), FT_IO_ERROR);
    EXPECT_EQ(write(handle, bytes, sizeof bytes, &moved), FT_IO_ERROR);
    EXPECT_EQ(baud(handle, 3000000), FT_IO_ERROR);
    EXPECT_EQ(queue(handle, &count), FT_IO_ERROR);
    EXPECT_EQ(d2xx.entry<FT_STATUS(FT_HANDLE)>("FT_Close")(handle), FT_OK);
}

} // namespace

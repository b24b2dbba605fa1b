// Drives the simulated instrument through its exported D2XX functions, as a
// host-side driver user would: open, load the FPGA, start, read frames.
#pragma once

#include "fpga_stream.h"
#include "sim/d2xx_exports.h"
#include "sim/device_frames.h"
#include "sim/zef_sim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zef::sim::test {

using d2xx::DWORD;
using d2xx::FT_HANDLE;
using d2xx::FT_STATUS;
using d2xx::ULONG;

inline constexpr std::uint32_t kLocation = 0x1234;

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { zefsim_reset(); }
    void TearDown() override { zefsim_reset(); }

  public:
    static FT_HANDLE addAndOpen() {
        zefsim_add_device("ZEF418", kLocation, 0, 0);
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FT_Open(0, &handle), 0U);
        return handle;
    }

    // Real time, with the port set up as the plug-in sets it: 3 MBd and a
    // 2 ms latency timer (the bridge starts at 9600 Bd and 16 ms).
    static FT_HANDLE openRealtime() {
        zefsim_set_timing(ZEFSIM_REALTIME);
        const FT_HANDLE handle = addAndOpen();
        EXPECT_EQ(FT_SetBaudRate(handle, 3000000), 0U);
        EXPECT_EQ(FT_SetLatencyTimer(handle, 2), 0U);
        return handle;
    }

    static FT_STATUS writeAll(FT_HANDLE h, const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            auto* p = const_cast<std::uint8_t*>(bytes.data() + done);
            const FT_STATUS status =
                FT_Write(h, p, static_cast<DWORD>(bytes.size() - done), &written);
            if (status != 0 || written == 0) {
                return status != 0 ? status : 99U;
            }
            done += written;
        }
        return 0;
    }

    // Program pulse, image, `tail` (the trailer by default), back to normal mode.
    static void loadFpga(FT_HANDLE h, std::span<const std::uint8_t> image,
                         const Bytes& tail = trailer()) {
        ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
        ASSERT_EQ(writeAll(h, {0x00}), 0U);
        ASSERT_EQ(writeAll(h, {0x80}), 0U);
        ASSERT_EQ(writeAll(h, expandImage(image)), 0U);
        ASSERT_EQ(writeAll(h, tail), 0U);
        ASSERT_EQ(FT_SetBitMode(h, 0x85, 0), 0U);
    }

    static void startDevice(FT_HANDLE h) {
        loadFpga(h, minimalImage());
        ASSERT_EQ(writeAll(h, {0xA5, 0x00, 0x00}), 0U);
    }

    // Everything queued now (fast timing tops the queue up on each query).
    static Bytes readQueued(FT_HANDLE h) {
        DWORD queued = 0;
        EXPECT_EQ(FT_GetQueueStatus(h, &queued), 0U);
        Bytes out(queued);
        DWORD got = 0;
        EXPECT_EQ(FT_Read(h, out.data(), queued, &got), 0U);
        out.resize(got);
        return out;
    }

    static zefsim_counters counters() {
        zefsim_counters c{};
        zefsim_get_counters(&c);
        return c;
    }

    static std::string callLog() {
        std::string text(zefsim_call_log(nullptr, 0) + 1, '\0');
        zefsim_call_log(text.data(), text.size());
        text.pop_back();
        return text;
    }

    static Bytes configImage() {
        Bytes image(zefsim_config_image(nullptr, 0));
        zefsim_config_image(image.data(), image.size());
        return image;
    }
};

} // namespace zef::sim::test

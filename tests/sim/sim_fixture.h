// Drives the simulated instrument through its exported D2XX functions, as a
// host-side driver user would: open, load the FPGA, start, read frames.
#pragma once

#include "sim/d2xx_exports.h"
#include "sim/device_frames.h"
#include "sim/zef_sim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zef::sim::test {

using Bytes = std::vector<std::uint8_t>;
using d2xx::DWORD;
using d2xx::FT_HANDLE;
using d2xx::FT_STATUS;
using d2xx::ULONG;

inline constexpr std::uint32_t kLocation = 0x1234;
inline constexpr std::size_t kSampleFrameBytes = frameSize(kSampleBodySize);
inline constexpr std::size_t kStatusFrameBytes = frameSize(kStatusBodySize);

// Bit-bang bytes for an image, as the plug-in's loader sends them.
inline Bytes expandImage(std::span<const std::uint8_t> image) {
    Bytes out;
    for (const std::uint8_t byte : image) {
        for (int bit = 7; bit >= 0; --bit) {
            const auto d = static_cast<std::uint8_t>((byte >> bit) & 1U);
            out.push_back(static_cast<std::uint8_t>(0x80U | d));
            out.push_back(static_cast<std::uint8_t>(0x84U | d));
        }
    }
    return out;
}

inline Bytes trailer() {
    Bytes out;
    for (int i = 0; i < 64; ++i) {
        out.push_back(0x85);
        out.push_back(0x81);
    }
    return out;
}

// The smallest image the FPGA accepts: dummy words, sync, IDCODE write,
// DESYNC, NOOPs.
inline Bytes minimalImage() {
    Bytes image(16, 0xFF);
    const Bytes rest = {0xAA, 0x99, 0x55, 0x66, 0x31, 0xC2, 0x04, 0x00, 0x10,
                        0x93, 0x30, 0xA1, 0x00, 0x0D, 0x20, 0x00, 0x20, 0x00};
    image.insert(image.end(), rest.begin(), rest.end());
    return image;
}

struct Frame {
    std::uint8_t type = 0;
    Bytes body;
    bool crcGood = false;
};

// Splits a received stream at each 24-byte preamble and its 00.
inline std::vector<Frame> splitFrames(std::span<const std::uint8_t> s) {
    std::vector<Frame> frames;
    std::size_t i = 0;
    while (i + kPreambleBytes + 2 < s.size()) {
        bool preamble = s[i + kPreambleBytes] == 0;
        for (std::size_t k = 0; preamble && k < kPreambleBytes; ++k) {
            preamble = s[i + k] == kSyncCycle[k % 3];
        }
        if (!preamble) {
            ++i;
            continue;
        }
        const std::size_t start = i + kPreambleBytes + 1;
        const std::size_t bodySize = s[start] == kStatusType ? kStatusBodySize : kSampleBodySize;
        if (start + 1 + bodySize + 2 > s.size()) {
            break;
        }
        Frame f;
        f.type = s[start];
        f.body.assign(s.begin() + static_cast<std::ptrdiff_t>(start + 1),
                      s.begin() + static_cast<std::ptrdiff_t>(start + 1 + bodySize));
        f.crcGood = crc16::compute(s.subspan(start, 1 + bodySize + 2)) == 0;
        frames.push_back(std::move(f));
        i = start + 1 + bodySize + 2;
    }
    return frames;
}

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

// The FPGA's configuration port: bit-bang decoding, acceptance, and what a
// configured device sends after the start command.
#include "sim_fixture.h"

#include <array>

namespace zef::sim::test {
namespace {

using FpgaConfig = SimTest;

TEST_F(FpgaConfig, ExpansionOfA5DecodesToA5) {
    const Bytes known = {0x81, 0x85, 0x80, 0x84, 0x81, 0x85, 0x80, 0x84,
                         0x80, 0x84, 0x81, 0x85, 0x80, 0x84, 0x81, 0x85};
    ASSERT_EQ(expandImage(Bytes{0xA5}), known);
    const FT_HANDLE h = addAndOpen();
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
    ASSERT_EQ(writeAll(h, {0x00, 0x80}), 0U);
    ASSERT_EQ(writeAll(h, known), 0U);
    ASSERT_EQ(writeAll(h, trailer()), 0U);
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 0), 0U);
    EXPECT_EQ(configImage(), Bytes{0xA5});
    EXPECT_EQ(counters().configs_rejected, 1U); // no sync word
    EXPECT_EQ(counters().bitbang_bytes, 2U + 16U + 128U);
}

TEST_F(FpgaConfig, ValidImageIsAcceptedAndRebuiltExactly) {
    const FT_HANDLE h = addAndOpen();
    Bytes image = minimalImage();
    for (int i = 0; i < 300; ++i) { // a body that spans several 256-byte chunks
        image.push_back(static_cast<std::uint8_t>(i * 7));
    }
    image.insert(image.end(), {0x20, 0x00});
    zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 1000); // partial writes, resent from where they stopped
    loadFpga(h, image);
    EXPECT_EQ(counters().configs_accepted, 1U);
    EXPECT_EQ(counters().configs_rejected, 0U);
    EXPECT_EQ(configImage(), image);
}

struct BadImage {
    const char* what;
    Bytes image;
    bool withTrailer;
};

TEST_F(FpgaConfig, WrongImagesLeaveTheFpgaUnconfigured) {
    const Bytes good = minimalImage();
    Bytes noSync = good;
    noSync[16] = 0xAB;
    Bytes wrongId = good;
    wrongId[25] = 0x94;   // IDCODE 0x04001094
    Bytes offGrid = good; // IDCODE write one byte off the 16-bit grid
    offGrid.insert(offGrid.begin() + 20, 0x20);
    Bytes droppedPair = expandImage(good); // a loader that lost two bit-bang bytes
    droppedPair.erase(droppedPair.begin() + 356, droppedPair.begin() + 358); // in the IDCODE
    const std::array<BadImage, 4> cases = {{
        {"no sync word", noSync, true},
        {"wrong IDCODE", wrongId, true},
        {"IDCODE off the packet grid", offGrid, true},
        {"no trailer", good, false},
    }};
    for (const BadImage& c : cases) {
        zefsim_reset();
        const FT_HANDLE h = addAndOpen();
        loadFpga(h, c.image, c.withTrailer ? trailer() : Bytes{});
        ASSERT_EQ(writeAll(h, {0xA5, 0x00, 0x00}), 0U);
        EXPECT_EQ(counters().configs_rejected, 1U) << c.what;
        EXPECT_EQ(counters().start_commands, 1U) << c.what;
        EXPECT_TRUE(readQueued(h).empty()) << c.what << ": an unconfigured FPGA sends nothing";
    }
    zefsim_reset();
    const FT_HANDLE h = addAndOpen();
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
    ASSERT_EQ(writeAll(h, {0x00, 0x80}), 0U);
    ASSERT_EQ(writeAll(h, droppedPair), 0U);
    ASSERT_EQ(writeAll(h, trailer()), 0U);
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 0), 0U);
    EXPECT_EQ(counters().configs_rejected, 1U) << "a lost clock shifts every later bit";
}

TEST_F(FpgaConfig, StartedDeviceSendsReadyStatusThenNumberedSamples) {
    std::array<std::uint8_t, 64> a{};
    std::array<std::uint8_t, 64> b{};
    a[0] = 0x11;
    b[5] = 0x22;
    zefsim_seal_block(a.data());
    zefsim_seal_block(b.data());
    zefsim_set_calibration(a.data(), b.data());
    zefsim_set_model(53);
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    const auto frames = splitFrames(readQueued(h));
    ASSERT_GE(frames.size(), 3U);
    ASSERT_EQ(frames[0].type, kStatusType);
    EXPECT_TRUE(frames[0].crcGood);
    EXPECT_EQ(frames[0].body[0], kStateReady);
    EXPECT_EQ(frames[0].body[4], 53);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), frames[0].body.begin() + 26));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), frames[0].body.begin() + 90));
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_TRUE(frames[i].crcGood);
        EXPECT_EQ(patternFrameNumber(frames[i].body.data()), static_cast<std::int64_t>(i - 1));
    }
    // Numbering continues across reads.
    const auto more = splitFrames(readQueued(h));
    ASSERT_FALSE(more.empty());
    EXPECT_EQ(patternFrameNumber(more[0].body.data()),
              static_cast<std::int64_t>(frames.size() - 1));
    EXPECT_NE(zefsim_frame_time_us(0), 0U);
}

TEST_F(FpgaConfig, ProgramPulseStopsARunningDevice) {
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    ASSERT_FALSE(readQueued(h).empty());
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 1), 0U);
    ASSERT_EQ(writeAll(h, {0x00}), 0U);
    ASSERT_EQ(FT_SetBitMode(h, 0x85, 0), 0U);
    ASSERT_EQ(FT_Purge(h, 1), 0U);
    EXPECT_TRUE(readQueued(h).empty());
    EXPECT_EQ(counters().configs_rejected, 1U);
}

} // namespace
} // namespace zef::sim::test

// The placeholder image as a Spartan-6 configuration port reads it.
#include "fpga_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned kFdri = 0x03;
constexpr unsigned kCmd = 0x05;
constexpr unsigned kIdcode = 0x0E;
constexpr unsigned kStart = 0x5;
constexpr unsigned kDesync = 0xD;

struct Write {
    unsigned reg;
    std::vector<unsigned> words;
};

class PlaceholderImage : public testing::Test {
  protected:
    void SetUp() override {
        if (!zef::fpgaImageIsPlaceholder()) {
            GTEST_SKIP() << "built with the instrument's own image";
        }
    }
    std::span<const std::uint8_t> image = zef::fpgaImage().span();
};

TEST_F(PlaceholderImage, HasTheInstrumentsLengthAndHeader) {
    ASSERT_EQ(image.size(), 335694U);
    std::vector<std::uint8_t> head(16, 0xFF);
    head.insert(head.end(), {0xAA, 0x99, 0x55, 0x66, 0x31, 0xC2, 0x04, 0x00, 0x10, 0x93});
    EXPECT_TRUE(std::equal(head.begin(), head.end(), image.begin()));
}

// Walks the packets after the sync word to the image's end.
TEST_F(PlaceholderImage, PacketsAreWellFormedToTheEnd) {
    std::size_t at = 20;
    auto word = [&] {
        const unsigned value = (unsigned{image[at]} << 8) | image[at + 1];
        at += 2;
        return value;
    };
    std::vector<Write> writes;
    std::size_t noopsAtEnd = 0;
    while (at + 1 < image.size()) {
        const unsigned header = word();
        const unsigned type = header >> 13;
        const unsigned opcode = (header >> 11) & 3U;
        const unsigned reg = (header >> 5) & 0x3FU;
        std::size_t count = header & 0x1FU;
        if (type == 1 && opcode == 0) {
            ASSERT_EQ(header, 0x2000U) << "at " << at;
            ++noopsAtEnd;
            continue;
        }
        ASSERT_EQ(opcode, 2U) << "only writes expected, at " << at;
        if (type == 2) {
            ASSERT_EQ(header & 0x1FU, 0U);
            count = std::size_t{word()} << 16;
            count |= word();
        } else {
            ASSERT_EQ(type, 1U) << "at " << at;
        }
        ASSERT_LE(at + 2 * count, image.size());
        Write write{reg, {}};
        for (std::size_t n = 0; n < count && n < 4; ++n) {
            write.words.push_back((unsigned{image[at + 2 * n]} << 8) | image[at + 2 * n + 1]);
        }
        at += 2 * count;
        writes.push_back(write);
        noopsAtEnd = 0;
    }
    EXPECT_EQ(at, image.size());
    ASSERT_GE(writes.size(), 4U);
    EXPECT_EQ(writes.front().reg, kIdcode);
    EXPECT_EQ(writes.front().words, (std::vector<unsigned>{0x0400, 0x1093}));
    const auto fdri =
        std::find_if(writes.begin(), writes.end(), [](const Write& w) { return w.reg == kFdri; });
    ASSERT_NE(fdri, writes.end());
    const Write& start = writes[writes.size() - 2];
    EXPECT_GT(&start, &*fdri);
    EXPECT_EQ(start.reg, kCmd);
    EXPECT_EQ(start.words, std::vector<unsigned>{kStart});
    EXPECT_EQ(writes.back().reg, kCmd);
    EXPECT_EQ(writes.back().words, std::vector<unsigned>{kDesync});
    EXPECT_GT(noopsAtEnd, 0U);
}

} // namespace

// The module's block ring: fragments, wrap-around, drop-oldest with one
// overflow mark at the gap, conversion on the way out.
#include "BlockRing.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using zef::soapy::BlockRing;

constexpr std::size_t kPairs = 4;

// Block n holds the int16 values n*8 .. n*8+7 (I, Q interleaved).
std::array<std::int16_t, kPairs * 2> block(int n) {
    std::array<std::int16_t, kPairs * 2> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<std::int16_t>(n * 8 + static_cast<int>(i));
    }
    return values;
}

std::int16_t same(std::int16_t v) {
    return v;
}

std::vector<std::int16_t> readAll(BlockRing& ring, std::size_t elements, bool& split) {
    std::vector<std::int16_t> out(elements * 2, -1);
    out.resize(ring.read(out.data(), elements, split, same) * 2);
    return out;
}

TEST(BlockRing, WholeBlocksComeOutInOrderAcrossBlocks) {
    BlockRing ring(4, kPairs);
    ring.push(block(0).data());
    ring.push(block(1).data());
    bool split = true;
    const auto out = readAll(ring, 2 * kPairs, split);
    ASSERT_EQ(out.size(), 16U);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i], static_cast<std::int16_t>(i));
    }
    EXPECT_FALSE(split);
    EXPECT_TRUE(ring.empty());
    EXPECT_FALSE(ring.readable());
}

TEST(BlockRing, SplitBlockReportsFragmentsUntilItsEnd) {
    BlockRing ring(4, kPairs);
    ring.push(block(0).data());
    bool split = false;
    auto first = readAll(ring, 3, split);
    EXPECT_EQ(first.size(), 6U);
    EXPECT_TRUE(split);
    auto rest = readAll(ring, 3, split);
    ASSERT_EQ(rest.size(), 2U) << "a read never runs past what is buffered";
    EXPECT_EQ(rest[0], 6);
    EXPECT_EQ(rest[1], 7);
    EXPECT_FALSE(split);
}

TEST(BlockRing, FullRingDropsOldestAndMarksOneOverflowAtTheGap) {
    BlockRing ring(3, kPairs);
    for (int n = 0; n < 3; ++n) {
        EXPECT_TRUE(ring.push(block(n).data()));
    }
    EXPECT_FALSE(ring.push(block(3).data()));
    EXPECT_FALSE(ring.push(block(4).data()));
    EXPECT_EQ(ring.droppedBlocks(), 2U);
    EXPECT_TRUE(ring.takeOverflow());
    EXPECT_FALSE(ring.takeOverflow()) << "reported once";
    bool split = false;
    const auto out = readAll(ring, 3 * kPairs, split);
    ASSERT_EQ(out.size(), 24U);
    EXPECT_EQ(out.front(), 2 * 8) << "the freshest blocks survive";
    EXPECT_EQ(out.back(), 4 * 8 + 7);
}

TEST(BlockRing, DropOfAPartlyReadBlockRestartsAtTheNextBlock) {
    BlockRing ring(2, kPairs);
    ring.push(block(0).data());
    ring.push(block(1).data());
    bool split = false;
    readAll(ring, 1, split);
    ASSERT_TRUE(split);
    ring.push(block(2).data());
    EXPECT_TRUE(ring.takeOverflow());
    const auto out = readAll(ring, 1, split);
    EXPECT_EQ(out[0], 8) << "block 1 from its first element, not from offset 1";
}

TEST(BlockRing, WrapsAroundManyTimesWithoutLoss) {
    BlockRing ring(3, kPairs);
    bool split = false;
    for (int n = 0; n < 50; ++n) {
        ring.push(block(n).data());
        const auto out = readAll(ring, kPairs, split);
        ASSERT_EQ(out.size(), 8U);
        EXPECT_EQ(out[0], n * 8);
    }
    EXPECT_EQ(ring.droppedBlocks(), 0U);
    EXPECT_FALSE(ring.takeOverflow());
}

TEST(BlockRing, ClearForgetsSamplesAndOverflow) {
    BlockRing ring(1, kPairs);
    ring.push(block(0).data());
    ring.push(block(1).data());
    ring.clear();
    EXPECT_FALSE(ring.readable());
    EXPECT_FALSE(ring.takeOverflow());
    ring.push(block(5).data());
    bool split = false;
    EXPECT_EQ(readAll(ring, kPairs, split)[0], 40);
}

TEST(BlockRing, ConvertsOnTheWayOut) {
    BlockRing ring(2, 2);
    const std::array<std::int16_t, 4> values{-32768, 16384, 0, 32767};
    ring.push(values.data());
    std::array<float, 4> out{};
    bool split = false;
    ASSERT_EQ(ring.read(out.data(), 2, split,
                        [](std::int16_t v) { return static_cast<float>(v) / 32768.0F; }),
              2U);
    EXPECT_FLOAT_EQ(out[0], -1.0F);
    EXPECT_FLOAT_EQ(out[1], 0.5F);
    EXPECT_FLOAT_EQ(out[2], 0.0F);
    EXPECT_NEAR(out[3], 1.0F, 1.0 / 32768.0);
}

} // namespace

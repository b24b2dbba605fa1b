#include "plugin/tuning.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct WordCase {
    std::int32_t frequency;
    char mode;
    std::int64_t word;
    std::uint32_t low32;
};

// Tuned words carry the sideband offset of the mode in force.
constexpr WordCase kWordCases[] = {
    {7050000, '\0', 151397597, 0x090624DD},
    {7050000, 'U', 151434469, 0x0906B4E5},
    {7050000, 'L', 151360725, 0x090594D5},
    {100000000, '\0', 2147483648LL, 0x80000000},
    {0, 'L', -36871, 0xFFFF6FF9},
    {0, '\0', 0, 0},
    {7050000, 'u', 151397597, 0x090624DD}, // lower case: no offset
    {-1, '\0', -20, 0xFFFFFFEC},           // -21.47 + 0.5 truncates toward zero
};

TEST(TuningWord, MatchesTheSynthesiserVectors) {
    for (const WordCase& c : kWordCases) {
        const std::int64_t word =
            zef::TuningWord(c.frequency, zef::modeOffsetHz(zef::ModeCode(c.mode)));
        EXPECT_EQ(word, c.word) << c.frequency << " Hz mode " << c.mode;
        EXPECT_EQ(static_cast<std::uint32_t>(word), c.low32) << c.frequency << " Hz";
    }
}

TEST(TuningWord, ExtremeFrequenciesStayInRange) {
    EXPECT_EQ(zef::TuningWord(INT32_MAX), 46116860163LL);
    EXPECT_EQ(zef::TuningWord(INT32_MIN, -1717), -46116897056LL);
}

TEST(ModeCode, LettersAreCaseSensitive) {
    struct {
        char letter;
        std::uint8_t code;
        std::int32_t offset;
    } const cases[] = {{'C', 1, 0},  {'U', 2, 1717}, {'L', 3, -1717}, {'A', 4, 0},
                       {'F', 5, 0},  {'E', 6, 0},    {'u', 0, 0},     {'l', 0, 0},
                       {'\0', 0, 0}, {'X', 0, 0},    {'D', 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(zef::ModeCode(c.letter), c.code) << c.letter;
        EXPECT_EQ(zef::modeOffsetHz(zef::ModeCode(c.letter)), c.offset) << c.letter;
    }
}

} // namespace

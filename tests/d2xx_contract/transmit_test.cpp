// Writes in bit-bang mode, as the FPGA load makes them: what the bus lets
// through, and the transmit count of FT_GetStatus while a write drains.
#include "contract_fixture.h"

#include <algorithm>

namespace zef::contract {
namespace {

// USB 2.0: a full-speed bus carries at most 19 bulk packets of 64 bytes per
// 1 ms frame, 1,216,000 bytes a second, so bit-bang bytes leave no faster,
// whatever the baud rate (the 3 MBd pins would take 3 MB/s); on a
// high-speed bridge the pins are the limit. FT_GetStatus (documented: "the
// number of characters in the transmit queue") falls as they drain, never
// rises once the write returned, and reads 0 no sooner than the slower of
// the two allows. The bridge's own transmit buffer (128 bytes on an FT232R)
// may still hold the last of them then.
TEST_P(D2xxContract, BitBangBytesDrainAtThePaceOfTheBusAndThePins) {
    if (d2xx().GetStatus == nullptr) {
        GTEST_SKIP() << GetParam() << " has no FT_GetStatus";
    }
    const FT_HANDLE h = open();
    ASSERT_EQ(d2xx().SetBitMode(h, 0x85, 1), FT_OK);
    constexpr std::size_t kBytes = 60000;
    const std::uint64_t rate = std::min<std::uint64_t>(model().busBytesPerSecond(), 3000000);
    const auto fastest = std::chrono::microseconds((kBytes - 128) * 1000000U / rate) * 98 / 100;
    const std::uint64_t before = model().counts().bitBangBytes;
    const auto start = Clock::now();
    writeAll(h, Bytes(kBytes, 0x80));
    DWORD rx = 0;
    DWORD tx = 0;
    DWORD events = 0;
    ASSERT_EQ(d2xx().GetStatus(h, &rx, &tx, &events), FT_OK);
    EXPECT_LE(tx, kBytes);
    DWORD last = tx;
    ASSERT_TRUE(waitFor([&] {
        EXPECT_EQ(d2xx().GetStatus(h, &rx, &tx, &events), FT_OK);
        EXPECT_LE(tx, last) << "the transmit count only falls";
        last = tx;
        return tx == 0;
    }));
    const auto drained = Clock::now() - start;
    EXPECT_GE(drained, fastest) << "drained in " << std::chrono::duration<double>(drained).count()
                                << " s";
    EXPECT_EQ(model().counts().bitBangBytes - before, kBytes);
    ASSERT_EQ(d2xx().GetStatus(h, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(tx, 0U);
}

} // namespace
} // namespace zef::contract

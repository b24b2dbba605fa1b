// FT_Read and its time-out. FTDI's D2XX Programmer's Guide: FT_Read "does
// not return until dwBytesToRead bytes have been read", unless a read
// time-out was set with FT_SetTimeouts: then it "returns when the timer
// expires or dwBytesToRead have been read, whichever occurs first", with
// the data available and FT_OK.
#include "contract_fixture.h"

namespace zef::contract {
namespace {

INSTANTIATE_TEST_SUITE_P(Models, D2xxContract,
                         testing::Values("sim_plain", "sim_bridge", "zefd2xx_ft232r",
                                         "zefd2xx_ft2232h", "ftd2xx_ft232r", "ftd2xx_ft2232h"),
                         modelName);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Documented: with no time-out set, a read of more than is queued waits for
// all of it, here 100 kB, about 0.4 s of the stream.
TEST_P(D2xxContract, ReadWithNoTimeoutSetWaitsForAllItsBytes) {
    const FT_HANDLE h = open();
    startStream(h);
    constexpr DWORD kWanted = 100000;
    Bytes buffer(kWanted);
    DWORD got = 0;
    ASSERT_EQ(d2xx().Read(h, buffer.data(), kWanted, &got), FT_OK);
    EXPECT_EQ(got, kWanted);
    EXPECT_EQ(framesOf(buffer).bad, 0U);
}

// Chosen (FTDI documents no meaning for 0): a time-out of 0 is none at all,
// as before FT_SetTimeouts.
TEST_P(D2xxContract, ReadTimeoutZeroMeansNone) {
    const FT_HANDLE h = open();
    ASSERT_EQ(d2xx().SetTimeouts(h, 0, 0), FT_OK);
    startStream(h);
    constexpr DWORD kWanted = 30000;
    Bytes buffer(kWanted);
    DWORD got = 0;
    ASSERT_EQ(d2xx().Read(h, buffer.data(), kWanted, &got), FT_OK);
    EXPECT_EQ(got, kWanted);
}

// Documented: with a time-out, a read of more than comes returns at the
// time-out with what came and FT_OK; one whose bytes come in time returns
// with all of them before it.
TEST_P(D2xxContract, ReadReturnsAtItsTimeoutWithWhatCame) {
    const FT_HANDLE h = open();
    ASSERT_EQ(d2xx().SetTimeouts(h, 80, 500), FT_OK);
    Bytes buffer(100);
    DWORD got = 1;
    auto start = Clock::now();
    ASSERT_EQ(d2xx().Read(h, buffer.data(), 100, &got), FT_OK) << "a silent device";
    double seconds = secondsSince(start);
    EXPECT_EQ(got, 0U);
    EXPECT_GE(seconds, 0.075);
    EXPECT_LT(seconds, 1.5);

    ASSERT_EQ(d2xx().SetTimeouts(h, 5000, 500), FT_OK);
    startStream(h);
    readQueued(h);
    constexpr DWORD kWanted = 20000; // 76 ms of the stream
    buffer.resize(kWanted);
    start = Clock::now();
    ASSERT_EQ(d2xx().Read(h, buffer.data(), kWanted, &got), FT_OK);
    seconds = secondsSince(start);
    EXPECT_EQ(got, kWanted);
    EXPECT_LT(seconds, 4.0) << "returned when its bytes had come, not at the time-out";
}

} // namespace
} // namespace zef::contract

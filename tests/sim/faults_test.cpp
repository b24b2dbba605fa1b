// Misbehaviour on demand: write faults, damaged and lost bytes, a device
// that never reports ready, and the receive-side controls.
#include "sim_fixture.h"

#include <algorithm>

namespace zef::sim::test {
namespace {

using FaultInjection = SimTest;

TEST_F(FaultInjection, WriteFaultsInOrder) {
    const FT_HANDLE h = addAndOpen();
    Bytes data(100, 0x11);
    DWORD written = 12345;
    zefsim_set_fault(ZEFSIM_FAIL_WRITES, 2);
    zefsim_set_fault(ZEFSIM_ZERO_WRITES, 1);
    zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 10);
    EXPECT_EQ(FT_Write(h, data.data(), 100, &written), 4U);
    EXPECT_EQ(written, 0U);
    EXPECT_EQ(FT_Write(h, data.data(), 100, &written), 4U);
    EXPECT_EQ(FT_Write(h, data.data(), 100, &written), 0U);
    EXPECT_EQ(written, 0U) << "zero-byte write";
    EXPECT_EQ(FT_Write(h, data.data(), 100, &written), 0U);
    EXPECT_EQ(written, 10U) << "write limit";
    zefsim_set_fault(ZEFSIM_WRITE_LIMIT, 0);
    EXPECT_EQ(FT_Write(h, data.data(), 100, &written), 0U);
    EXPECT_EQ(written, 100U);
}

Bytes damagedStream(double corrupt, double drop) {
    zefsim_reset();
    zefsim_set_fault(ZEFSIM_CORRUPT_RATE, corrupt);
    zefsim_set_fault(ZEFSIM_DROP_RATE, drop);
    zefsim_add_device("ZEF418", kLocation, 0, 0);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(0, &h), 0U);
    SimTest::startDevice(h);
    Bytes all;
    for (int i = 0; i < 6; ++i) {
        if (i == 5) {
            EXPECT_EQ(FT_StopInTask(h), 0U); // the last read takes everything that came
        }
        const Bytes part = SimTest::readQueued(h);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST_F(FaultInjection, CorruptionAndDropsAreCountedAndReproducible) {
    const Bytes corrupted = damagedStream(0.0005, 0.0);
    const zefsim_counters c = counters();
    EXPECT_GT(c.bytes_corrupted, 0U);
    EXPECT_EQ(c.bytes_sent, corrupted.size());
    const auto frames = splitFrames(corrupted);
    const auto bad =
        std::count_if(frames.begin(), frames.end(), [](const Frame& f) { return !f.crcGood; });
    EXPECT_GT(bad, 0);
    EXPECT_LT(static_cast<std::size_t>(bad), frames.size());
    // How much arrives before each read varies with the producer thread; the
    // bytes themselves do not.
    const Bytes again = damagedStream(0.0005, 0.0);
    const std::size_t common = 8 * kSampleFrameBytes;
    ASSERT_GE(std::min(again.size(), corrupted.size()), common);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + common, corrupted.begin()))
        << "same seed, same damage";

    const Bytes dropped = damagedStream(0.0, 0.001);
    const zefsim_counters d = counters();
    EXPECT_GT(d.bytes_dropped, 0U);
    EXPECT_EQ(d.bytes_sent, dropped.size());
    EXPECT_EQ(d.bytes_sent + d.bytes_dropped,
              d.sample_frames_sent * kSampleFrameBytes + d.status_frames_sent * kStatusFrameBytes);
}

TEST_F(FaultInjection, NeverReadyStillStreams) {
    zefsim_set_fault(ZEFSIM_NEVER_READY, 1);
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    const auto frames = splitFrames(readQueued(h));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].type, kSampleType);
    EXPECT_EQ(counters().status_frames_sent, 0U);
    EXPECT_EQ(counters().configs_accepted, 1U);
}

TEST_F(FaultInjection, PurgeAndStoppedInTask) {
    const FT_HANDLE h = addAndOpen();
    startDevice(h);
    ASSERT_EQ(FT_StopInTask(h), 0U);
    ASSERT_EQ(FT_Purge(h, 1), 0U);
    DWORD queued = 1;
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_EQ(queued, 0U) << "nothing arrives while the in-task is stopped";
    ASSERT_EQ(FT_RestartInTask(h), 0U);
    ASSERT_EQ(FT_GetQueueStatus(h, &queued), 0U);
    EXPECT_GT(queued, 0U);
    Bytes small(10);
    DWORD got = 0;
    ASSERT_EQ(FT_Read(h, small.data(), 10, &got), 0U);
    EXPECT_EQ(got, 10U) << "a read takes no more than asked";
}

} // namespace
} // namespace zef::sim::test

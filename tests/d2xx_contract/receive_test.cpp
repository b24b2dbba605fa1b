// The receive side while the in-task runs: a purge, a stopped in-task and a
// full receive buffer, each checked against the numbered sample frames that
// the instrument sent and counted.
#include "contract_fixture.h"

namespace zef::contract {
namespace {

// Chosen (FTDI's guide says only that FT_Purge purges the receive buffer):
// nothing that reached the bridge before FT_Purge(FT_PURGE_RX) is read
// after it, whatever was in flight on the bus; the stream goes on. Purges
// land just after a frame ended, so that frame is on its way then.
TEST_P(D2xxContract, PurgeWhileReceivingDropsEverythingFromBeforeIt) {
    const FT_HANDLE h = open();
    startStream(h);
    for (int purge = 0; purge < 3; ++purge) {
        const std::uint64_t sent = model().counts().sampleFramesSent;
        ASSERT_TRUE(waitFor([&] { return model().counts().sampleFramesSent > sent; }));
        const std::uint64_t line = model().counts().lineBytes;
        ASSERT_TRUE(waitFor([&] { return model().counts().lineBytes > line + 400; }));
        const std::uint64_t before = model().counts().sampleFramesSent;
        ASSERT_EQ(d2xx().Purge(h, FT_PURGE_RX), FT_OK);
        Bytes after;
        ASSERT_TRUE(waitFor([&] {
            const Bytes got = readQueued(h);
            after.insert(after.end(), got.begin(), got.end());
            return framesOf(after).numbers.size() >= 3;
        }));
        const Frames frames = framesOf(after);
        EXPECT_GE(frames.numbers.front(), static_cast<std::int64_t>(before))
            << "frame " << frames.numbers.front() << " had ended before the purge " << purge;
        for (std::size_t i = 1; i < frames.numbers.size(); ++i) {
            EXPECT_EQ(frames.numbers[i], frames.numbers[i - 1] + 1) << "after purge " << purge;
        }
        EXPECT_EQ(frames.bad, 0U) << "after purge " << purge;
    }
}

// Documented (FT_StopInTask puts the driver's IN task "into a wait state",
// FT_RestartInTask "sets the IN task running again"): while it is stopped
// nothing joins the queue, however long the device waits to send; started
// again, the stream comes, whole frame after whole frame.
TEST_P(D2xxContract, StoppedInTaskTakesNothingUntilRestarted) {
    const FT_HANDLE h = open();
    startStream(h);
    ASSERT_EQ(d2xx().StopInTask(h), FT_OK);
    DWORD stopped = 0;
    ASSERT_EQ(d2xx().GetQueueStatus(h, &stopped), FT_OK);
    // Until the device has had more to send than its FIFO holds.
    ASSERT_TRUE(waitFor([&] { return model().counts().lostFrames > 0; }));
    DWORD queued = 0;
    ASSERT_EQ(d2xx().GetQueueStatus(h, &queued), FT_OK);
    EXPECT_EQ(queued, stopped);
    readQueued(h);
    ASSERT_EQ(d2xx().RestartInTask(h), FT_OK);
    Bytes stream;
    ASSERT_TRUE(waitFor([&] {
        const Bytes got = readQueued(h);
        stream.insert(stream.end(), got.begin(), got.end());
        return framesOf(stream).numbers.size() >= 4;
    }));
    const Frames frames = framesOf(stream);
    for (std::size_t i = 1; i < frames.numbers.size(); ++i) {
        EXPECT_EQ(frames.numbers[i], frames.numbers[i - 1] + 1);
    }
}

// Documented (AN232B-03, Driver Operation): when the read buffer has no
// room for what a USB request could bring, "the driver will stop issuing
// USB requests until space becomes available". So nothing the buffer holds
// is lost, and read, it takes requests again: what comes is the stream from
// its start, frame after frame. Chosen for the device: the bridge holds the
// line meanwhile (flow control) and the gateware's FIFO keeps 64 frames,
// then drops whole frames, counted. (That the frames missing once its FIFO
// has drained are exactly those counted takes seconds at the stream's rate;
// tests/sim/usb_bridge_test.cpp shows it on the bridge's own clock.)
TEST_P(D2xxContract, FullBufferLosesNothingAndTheDeviceCountsWhatItDrops) {
    const FT_HANDLE h = open();
    startStream(h);
    const auto fillTime =
        std::chrono::milliseconds(static_cast<long>(
            1000.0 * static_cast<double>(model().receiveCapacity()) / kStreamBytesPerSecond)) +
        std::chrono::seconds(10);
    ASSERT_TRUE(waitFor([&] { return model().counts().lostFrames > 0; }, fillTime));
    DWORD queued = 0;
    ASSERT_EQ(d2xx().GetQueueStatus(h, &queued), FT_OK);
    EXPECT_LE(queued, model().receiveCapacity());
    Bytes stream(queued);
    DWORD got = 0;
    ASSERT_EQ(d2xx().Read(h, stream.data(), queued, &got), FT_OK);
    ASSERT_EQ(got, queued);
    const std::size_t held = framesOf(stream).numbers.size();
    ASSERT_TRUE(waitFor([&] {
        const Bytes more = readQueued(h);
        stream.insert(stream.end(), more.begin(), more.end());
        return framesOf(stream).numbers.size() >= held + 8;
    })) << "reading made room, and the driver asked for more";
    const Frames frames = framesOf(stream);
    EXPECT_EQ(frames.bad, 0U);
    for (std::size_t i = 0; i < frames.numbers.size(); ++i) {
        ASSERT_EQ(frames.numbers[i], static_cast<std::int64_t>(i)) << "nothing lost in the driver";
    }
}

} // namespace
} // namespace zef::contract

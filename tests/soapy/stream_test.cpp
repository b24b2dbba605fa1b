// The "zef" driver's receive stream against the simulated instrument's test
// pattern: fragments, formats, timeouts, the overflow mark and the time.
#include "soapy_fixture.h"

#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Time.hpp>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace zef::test {
namespace {

constexpr long kTimeoutUs = 2000000;

class SoapyStream : public SoapyInstrument {
  protected:
    SoapySDR::Stream* start(const std::string& format = SOAPY_SDR_CS16,
                            const SoapySDR::Kwargs& args = {}) {
        SoapySDR::Device& device = open();
        // A reader keeps up with the instrument's own rate, not with a flood.
        zefsim_set_timing(ZEFSIM_REALTIME);
        stream_ = device.setupStream(SOAPY_SDR_RX, format, {0}, args);
        EXPECT_EQ(device.getStreamMTU(stream_), 512U);
        EXPECT_EQ(device.activateStream(stream_), 0);
        return stream_;
    }
    void TearDown() override {
        if (stream_ != nullptr) {
            device_->deactivateStream(stream_);
            device_->closeStream(stream_);
        }
        SoapyInstrument::TearDown();
    }

    int read(std::vector<std::int16_t>& buffer, std::size_t elements, int& flags,
             long timeoutUs = kTimeoutUs) {
        buffer.assign(elements * 2, 0);
        void* buffs[] = {buffer.data()};
        timeNs_ = -1;
        return device_->readStream(stream_, buffs, elements, flags, timeNs_, timeoutUs);
    }

    // The time a read gives its first element, `elements` after activation.
    static long long timeOf(std::uint64_t elements) {
        return SoapySDR::ticksToTimeNs(static_cast<long long>(elements), 65104.0);
    }

    SoapySDR::Stream* stream_ = nullptr;
    long long timeNs_ = -1;
};

TEST_F(SoapyStream, SplitBlocksCarryMoreFragmentsAndStayConsecutive) {
    start();
    std::vector<std::int16_t> buffer;
    int flags = 0;
    // 300 elements at a time: reads end inside a block or on its boundary, and
    // may run on into the next block when it is already there.
    std::uint64_t position = 0; // elements since the first block's start
    std::uint32_t first = 0;
    int fragments = 0;
    while (position < 40U * 512U) {
        const int got = read(buffer, 300, flags);
        ASSERT_GT(got, 0);
        ASSERT_LE(got, 300);
        if (position == 0) {
            first = patternValue(buffer.data(), 0);
            EXPECT_EQ(first % 512U, 0U) << "the stream starts at a block boundary";
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            ASSERT_EQ(patternValue(buffer.data(), i), first + position + i) << "no sample lost";
        }
        ASSERT_NE(flags & SOAPY_SDR_HAS_TIME, 0);
        ASSERT_EQ(timeNs_, timeOf(position)) << "the time counts samples since activation";
        position += static_cast<std::uint64_t>(got);
        const bool split = position % 512U != 0;
        EXPECT_EQ((flags & SOAPY_SDR_MORE_FRAGMENTS) != 0, split) << "at element " << position;
        fragments += split ? 1 : 0;
    }
    EXPECT_GT(fragments, 20);
}

TEST_F(SoapyStream, Cf32IsCs16OverFullScale) {
    SoapySDR::Stream* stream = start(SOAPY_SDR_CF32);
    std::vector<float> samples(1024);
    void* buffs[] = {samples.data()};
    int flags = 0;
    long long timeNs = 0;
    ASSERT_EQ(device_->readStream(stream, buffs, 512, flags, timeNs, kTimeoutUs), 512);
    for (std::size_t i = 0; i < 1024; ++i) {
        const float scaled = samples[i] * 32768.0F;
        ASSERT_EQ(scaled, static_cast<float>(static_cast<std::int16_t>(scaled)));
    }
    // Pair i of a block carries n * 512 + i: I steps by one, Q is the frame's high half.
    const auto i0 = static_cast<std::uint16_t>(static_cast<std::int16_t>(samples[0] * 32768.0F));
    const auto i1 = static_cast<std::uint16_t>(static_cast<std::int16_t>(samples[2] * 32768.0F));
    EXPECT_EQ(static_cast<std::uint16_t>(i1 - i0), 1U);
}

// CubicSDR reads with a time-out of 2^30 us and waits for that read when it
// stops; SoapyRemote's server reads again at once after a time-out. So a read
// on an inactive stream neither waits its time-out nor returns at once.
TEST_F(SoapyStream, InactiveStreamAnswersWithinTheIdleWait) {
    SoapySDR::Device& device = open();
    zefsim_set_timing(ZEFSIM_REALTIME);
    stream_ = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {});
    std::vector<std::int16_t> buffer;
    int flags = 0;
    const auto timed = [&](long timeoutUs) {
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(read(buffer, 512, flags, timeoutUs), SOAPY_SDR_TIMEOUT);
        return std::chrono::steady_clock::now() - before;
    };
    auto waited = timed(1L << 30);
    EXPECT_LT(waited, std::chrono::seconds(1)) << "not the caller's time-out";
    EXPECT_GE(waited, std::chrono::milliseconds(90)) << "and no spinning either";
    EXPECT_GE(timed(LONG_MAX), std::chrono::milliseconds(90)) << "a time-out without end";
    EXPECT_LT(timed(0), std::chrono::milliseconds(90)) << "a read that may not wait does not";

    ASSERT_EQ(device.activateStream(stream_), 0);
    EXPECT_EQ(read(buffer, 512, flags), 512);
    ASSERT_EQ(device.deactivateStream(stream_), 0);
    waited = timed(1L << 30);
    EXPECT_LT(waited, std::chrono::seconds(1)) << "nothing is left over after deactivation";
}

// Every gap in what a reader gets is marked by one overflow before it, and
// there is no gap without one. A reader on a loaded machine may fall behind
// again after the pause; that is a second mark with its own gap.
TEST_F(SoapyStream, PausedReaderGetsOneOverflowMarkPerGap) {
    start(SOAPY_SDR_CS16, {{"buffers", "16"}});
    std::vector<std::int16_t> buffer;
    int flags = 0;
    ASSERT_EQ(read(buffer, 512, flags), 512);
    const std::uint32_t beforePause = patternValue(buffer.data(), 0);
    ASSERT_EQ(timeNs_, 0);
    // Paused until the instrument has sent four times what the ring holds.
    const std::uint64_t sent = simCounters().sample_frames_sent;
    ASSERT_TRUE(waitUntil([&] { return simCounters().sample_frames_sent >= sent + 64; }));
    EXPECT_EQ(read(buffer, 512, flags), SOAPY_SDR_OVERFLOW);
    std::uint32_t previous = 0;
    bool marked = true;
    int marks = 1;
    for (int block = 0; block < 40; ++block) {
        const int got = read(buffer, 512, flags);
        if (got == SOAPY_SDR_OVERFLOW) {
            ASSERT_FALSE(marked) << "one mark per gap";
            marked = true;
            ++marks;
            continue;
        }
        ASSERT_EQ(got, 512) << "block " << block;
        const std::uint32_t start = patternValue(buffer.data(), 0);
        for (std::size_t i = 0; i < 512; ++i) {
            ASSERT_EQ(patternValue(buffer.data(), i), start + i);
        }
        EXPECT_EQ(timeNs_, timeOf(start - beforePause)) << "the time jumps over the gap";
        if (block == 0) {
            EXPECT_GT(start, beforePause + 16 * 512) << "the gap lies after the mark";
        } else if (marked) {
            EXPECT_GT(start, previous + 512) << "a mark, then its gap";
        } else {
            ASSERT_EQ(start, previous + 512) << "no gap without a mark";
        }
        marked = false;
        previous = start;
    }
    EXPECT_LT(marks, 10) << "a reader that keeps up is not marked all the time";
}

// The hardware time lies between the end of what was read and one block
// past the end of what had arrived. A test thread that is late (a loaded
// machine) sees more arrive, never a time outside those bounds: what had
// arrived is read right after, without waiting.
TEST_F(SoapyStream, HardwareTimeIsTheStreamsAndRunsJustAheadOfTheReads) {
    SoapySDR::Device& device = open();
    EXPECT_TRUE(device.hasHardwareTime(""));
    EXPECT_FALSE(device.hasHardwareTime("PPS"));
    EXPECT_EQ(device.getHardwareTime("PPS"), 0) << "as the base class answers (gr-osmosdr asks)";
    EXPECT_EQ(device.getHardwareTime(), 0) << "no stream yet";
    zefsim_set_timing(ZEFSIM_REALTIME);
    stream_ = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {});
    ASSERT_EQ(device.activateStream(stream_), 0);
    std::vector<std::int16_t> buffer;
    int flags = 0;
    std::uint64_t position = 0; // elements read since activation
    // Reads what is there without waiting; returns the position after it.
    const auto drain = [&] {
        for (int got = 0; (got = read(buffer, 512, flags, 0)) > 0;) {
            EXPECT_EQ(timeNs_, timeOf(position));
            position += static_cast<std::uint64_t>(got);
        }
        return position;
    };
    long long previous = 0;
    for (int block = 0; block < 30; ++block) {
        const int got = read(buffer, 512, flags);
        ASSERT_EQ(got, 512);
        ASSERT_EQ(timeNs_, timeOf(position)) << "no gap in this test";
        position += 512;
        const long long now = device.getHardwareTime();
        EXPECT_GE(now, timeOf(position)) << "what was read lies in the past";
        EXPECT_LE(now, timeOf(drain() + 512)) << "at most one block ahead of what arrived";
        EXPECT_GE(now, previous) << "never backwards";
        previous = now;
    }
    ASSERT_EQ(device.deactivateStream(stream_), 0);
    const long long stopped = device.getHardwareTime();
    // The instrument goes on sending; the stream's time does not follow it.
    const std::uint64_t sent = simCounters().sample_frames_sent;
    ASSERT_TRUE(waitUntil([&] { return simCounters().sample_frames_sent >= sent + 5; }));
    EXPECT_EQ(device.getHardwareTime(), stopped) << "stands still while inactive";
    ASSERT_EQ(device.activateStream(stream_), 0);
    position = 0;
    const long long restarted = device.getHardwareTime();
    EXPECT_LE(restarted, timeOf(drain() + 512)) << "counts from the activation again";
    EXPECT_LT(restarted, stopped);
}

// Read as programs do until samples come (or anything but a time-out or
// the lost instrument's error), for at most `seconds`.
int readPast(const std::function<int()>& read, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int result = SOAPY_SDR_TIMEOUT;
    while ((result == SOAPY_SDR_TIMEOUT || result == SOAPY_SDR_STREAM_ERROR) &&
           std::chrono::steady_clock::now() < deadline) {
        result = read();
    }
    return result;
}

TEST_F(SoapyStream, PulledCableIsReportedOnceAndTheStreamResumesAfterTheReplug) {
    LogCapture log;
    start();
    std::vector<std::int16_t> buffer;
    int flags = 0;
    ASSERT_EQ(read(buffer, 512, flags), 512);
    const long long lastBefore = timeNs_;
    zefsim_unplug(0);
    const auto pulled = std::chrono::steady_clock::now();
    int result = 512;
    while (result == 512) { // what was buffered comes first
        result = read(buffer, 512, flags);
    }
    EXPECT_EQ(result, SOAPY_SDR_STREAM_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - pulled, std::chrono::seconds(1));
    // CubicSDR's reads: its stop waits for one, so one may not wait long.
    for (int i = 0; i < 3; ++i) {
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(read(buffer, 512, flags, 1L << 30), SOAPY_SDR_STREAM_ERROR) << "still away";
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    }
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "ZEF418: lost the instrument, FT_IO_ERROR"), 1U);

    zefsim_replug(0);
    const auto replugged = std::chrono::steady_clock::now();
    // No deactivation, no new activation: the module reopens by itself.
    result = readPast([&] { return read(buffer, 512, flags, 200000); }, 10);
    ASSERT_EQ(result, 512);
    EXPECT_EQ(patternValue(buffer.data(), 0) % 512U, 0U) << "a fresh stream after the reload";
    const auto away = std::chrono::duration_cast<std::chrono::nanoseconds>(replugged - pulled);
    EXPECT_GE(timeNs_, lastBefore + away.count() - timeOf(512)) << "the time jumps by the outage";
    EXPECT_GE(device_->getHardwareTime(), timeNs_ + timeOf(512)) << "and so does the device's";
    EXPECT_EQ(simCounters().configs_accepted, 2U);
    EXPECT_EQ(log.count(SOAPY_SDR_INFO, "ZEF418: the instrument is back after"), 1U);
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "lost the instrument"), 1U);
    const std::uint32_t resumed = patternValue(buffer.data(), 0);
    ASSERT_EQ(read(buffer, 512, flags), 512);
    EXPECT_EQ(patternValue(buffer.data(), 0), resumed + 512) << "consecutive again";
}

TEST_F(SoapyStream, ActivatingWithTheInstrumentGoneFailsAndSaysSo) {
    LogCapture log;
    SoapySDR::Device& device = open();
    zefsim_set_timing(ZEFSIM_REALTIME);
    stream_ = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {});
    zefsim_unplug(0);
    EXPECT_EQ(device.activateStream(stream_), SOAPY_SDR_STREAM_ERROR);
    EXPECT_EQ(log.count(SOAPY_SDR_ERROR, "ZEF418: activateStream: the instrument is gone"), 1U);
    zefsim_replug(0);
    ASSERT_EQ(device.activateStream(stream_), 0);
    std::vector<std::int16_t> buffer;
    int flags = 0;
    EXPECT_EQ(readPast([&] { return read(buffer, 512, flags); }, 10), 512);
}

TEST_F(SoapyStream, SetupRejectsWhatTheInstrumentCannotDo) {
    SoapySDR::Device& device = open();
    EXPECT_THROW(device.setupStream(SOAPY_SDR_TX, SOAPY_SDR_CS16, {0}, {}), std::invalid_argument);
    EXPECT_THROW(device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS8, {0}, {}), std::invalid_argument);
    EXPECT_THROW(device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {1}, {}), std::invalid_argument);
    stream_ = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {});
    EXPECT_THROW(device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {}), std::runtime_error);
    device.closeStream(stream_);
    stream_ = nullptr;
    // A buffer count it cannot have is limited, with a warning.
    LogCapture log;
    for (const char* blocks : {"1", "99999999999999999999", "lots"}) {
        SoapySDR::Stream* stream = nullptr;
        EXPECT_NO_THROW(
            stream = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0}, {{"buffers", blocks}}));
        device.closeStream(stream);
    }
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "buffers=1 is beyond 2 to 8192; 2 blocks kept"), 1U);
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "is beyond 2 to 8192; 8192 blocks kept"), 1U);
    EXPECT_EQ(log.count(SOAPY_SDR_WARNING, "buffers=lots is not a block count; 128 blocks kept"),
              1U);
}

TEST_F(SoapyStream, CloseWhileBlocksArriveAndDeviceGoesAway) {
    start();
    std::vector<std::int16_t> buffer;
    int flags = 0;
    ASSERT_EQ(read(buffer, 512, flags), 512);
    device_->closeStream(stream_); // still active: blocks keep coming from the worker
    stream_ = nullptr;
    const std::uint64_t sent = simCounters().sample_frames_sent;
    ASSERT_TRUE(waitUntil([&] { return simCounters().sample_frames_sent >= sent + 3; }));
    SoapySDR::Device::unmake(device_);
    device_ = nullptr;
    EXPECT_EQ(simCounters().closes, 1U);
}

// Registered before the device is made, so it runs after the core's own exit
// handler: by then the worker must be stopped and the instrument closed.
void checkClosedAtExit() {
    const zefsim_counters c = simCounters();
    if (c.closes != c.opens || c.closed_handle_calls != 0) {
        std::fprintf(stderr, "at exit: %llu opens, %llu closes\n",
                     static_cast<unsigned long long>(c.opens),
                     static_cast<unsigned long long>(c.closes));
        std::_Exit(1);
    }
}

TEST_F(SoapyStream, ExitWithoutUnmakeWhileStreamingStopsTheWorkerFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit(&checkClosedAtExit);
            start();
            std::vector<std::int16_t> buffer;
            int flags = 0;
            if (read(buffer, 512, flags) != 512) {
                std::_Exit(2);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace zef::test

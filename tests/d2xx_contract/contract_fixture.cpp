#include "contract_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace zef::contract {

Frames framesOf(const Bytes& stream) {
    Frames frames;
    for (const sim::test::Frame& f : sim::test::splitFrames(stream)) {
        if (!f.crcGood) {
            ++frames.bad;
        } else if (f.type != sim::kStatusType) {
            frames.numbers.push_back(sim::patternFrameNumber(f.body.data()));
        }
    }
    return frames;
}

void D2xxContract::SetUp() {
    model_ = makeModel(GetParam());
    std::string why;
    if (!model_->start(why)) {
        GTEST_SKIP() << GetParam() << " skipped: " << why;
    }
}

void D2xxContract::TearDown() {
    for (FT_HANDLE handle : opened_) {
        d2xx().Close(handle);
    }
}

std::uint32_t D2xxContract::instrumentLocation() {
    DWORD count = 0;
    EXPECT_EQ(d2xx().CreateDeviceInfoList(&count), FT_OK);
    for (DWORD i = 0; i < count; ++i) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        void* index = reinterpret_cast<void*>(std::uintptr_t{i});
        char description[kDescriptionSize] = {};
        DWORD location = 0;
        if (d2xx().ListDevices(index, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) ==
                FT_OK &&
            d2xx().ListDevices(index, &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) == FT_OK &&
            description == model().description()) {
            return location;
        }
    }
    return 0;
}

FT_HANDLE D2xxContract::open() {
    const std::uint32_t location = instrumentLocation();
    EXPECT_NE(location, 0U) << "no " << model().description() << " listed";
    FT_HANDLE handle = nullptr;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    EXPECT_EQ(d2xx().OpenEx(reinterpret_cast<void*>(std::uintptr_t{location}), FT_OPEN_BY_LOCATION,
                            &handle),
              FT_OK);
    opened_.push_back(handle);
    EXPECT_EQ(d2xx().SetBaudRate(handle, 3000000), FT_OK);
    EXPECT_EQ(d2xx().SetLatencyTimer(handle, 2), FT_OK);
    return handle;
}

void D2xxContract::forget(FT_HANDLE handle) {
    std::erase(opened_, handle);
}

void D2xxContract::writeAll(FT_HANDLE handle, const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        auto* at = const_cast<std::uint8_t*>(bytes.data() + done);
        ASSERT_EQ(d2xx().Write(handle, at, static_cast<DWORD>(bytes.size() - done), &written),
                  FT_OK);
        ASSERT_GT(written, 0U);
        done += written;
    }
}

void D2xxContract::startStream(FT_HANDLE handle) {
    Bytes load = {0x00, 0x80};
    const Bytes image = sim::test::expandImage(sim::test::minimalImage());
    load.insert(load.end(), image.begin(), image.end());
    const Bytes tail = sim::test::trailer();
    load.insert(load.end(), tail.begin(), tail.end());
    ASSERT_EQ(d2xx().SetBitMode(handle, 0x85, 1), FT_OK);
    writeAll(handle, load);
    ASSERT_EQ(d2xx().SetBitMode(handle, 0x85, 0), FT_OK);
    writeAll(handle, {0xA5, 0x00, 0x00});
    ASSERT_TRUE(waitFor([&] {
        DWORD queued = 0;
        return d2xx().GetQueueStatus(handle, &queued) == FT_OK && queued > 0;
    })) << "the gateware never started";
}

Bytes D2xxContract::readQueued(FT_HANDLE handle) {
    DWORD queued = 0;
    EXPECT_EQ(d2xx().GetQueueStatus(handle, &queued), FT_OK);
    Bytes out(queued);
    DWORD got = 0;
    if (queued > 0) {
        EXPECT_EQ(d2xx().Read(handle, out.data(), queued, &got), FT_OK);
    }
    out.resize(got);
    return out;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void withinOrDeadlocked(std::chrono::seconds limit, const std::function<void()>& body,
                        const char* what) {
    std::atomic<bool> ended{false};
    std::thread runner([&] {
        body();
        ended.store(true);
    });
    if (!waitFor([&] { return ended.load(); }, limit)) {
        ADD_FAILURE() << what << ": still waiting after " << limit.count()
                      << " s, deadlocked with the driver's thread";
        std::fflush(stdout);
        std::_Exit(1);
    }
    runner.join();
}

std::string modelName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}

} // namespace zef::contract

// Host behaviour beyond the polite call order: a reopen that finds nothing,
// CloseHW from inside the callback, and callbacks that call back into the
// plug-in while the host's thread closes it.
#include "sim_harness.h"

#include <cstdio>
#include <cstdlib>
#include <future>

namespace zef::test {
namespace {

using std::chrono::milliseconds;

// What the callback does after recording a block.
enum class Reentry { None, CloseOnce, StartEveryBlock, CloseEveryBlock, InitEveryBlock };
std::atomic<Reentry> reentry{Reentry::None};
std::atomic<std::uint64_t> reentered{0};
std::atomic<std::uint64_t> longestReentryUs{0};
// Raised while a re-entrant callback waits before calling in, so that the
// host's thread can be made to call right then.
std::atomic<bool> insideCallback{false};

extern "C" void EXTIO_CALLBACK_CALL reentrantBlock(int count, int status, float iqOffset,
                                                   void* data) {
    recordBlock(count, status, iqOffset, data);
    const Reentry action = reentry.load();
    if (action == Reentry::None) {
        return;
    }
    if (action != Reentry::CloseOnce) {
        insideCallback = true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    const std::uint64_t began = platform::nowMicroseconds();
    switch (action) {
    case Reentry::None:
        break;
    case Reentry::CloseOnce:
        reentry.store(Reentry::None);
        zef::closeHW();
        break;
    case Reentry::StartEveryBlock:
        zef::startHW(7050000);
        break;
    case Reentry::CloseEveryBlock:
        zef::closeHW();
        break;
    case Reentry::InitEveryBlock:
        zef::initHW(nullptr, nullptr, nullptr);
        break;
    }
    const std::uint64_t took = platform::nowMicroseconds() - began;
    if (took > longestReentryUs.load()) {
        longestReentryUs.store(took);
    }
    ++reentered;
    insideCallback = false;
}

// A deadlock must fail the test, not hang the suite.
template <typename Body> void withinSeconds(int seconds, const char* what, Body body) {
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return within %d s: deadlock\n", what, seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
    runner.join();
}

class HostSequences : public SimulatedInstrument {
  protected:
    void SetUp() override {
        SimulatedInstrument::SetUp();
        reentry = Reentry::None;
        reentered = 0;
        longestReentryUs = 0;
    }
    void TearDown() override {
        reentry = Reentry::None;
        withinSeconds(10, "CloseHW at the end", [] { zef::closeHW(); });
    }
    static void start() {
        zef::setCallback(&reentrantBlock);
        ASSERT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
        ASSERT_EQ(zef::startHW(7050000), 512);
    }
    static void expectIntactBlocks() {
        EXPECT_EQ(delivery.badPattern.load(), 0U);
        EXPECT_EQ(delivery.outOfOrder.load(), 0U);
        EXPECT_EQ(delivery.gaps.load(), 0U);
    }
};

TEST_F(HostSequences, FailedReopenLeavesTheClosedHandleAloneUntilTheDeviceReturns) {
    start();
    ASSERT_TRUE(blocksArrive(10));
    zefsim_unplug(0); // stays unlisted until the replug
    zef::tuneChanged(7100000);
    EXPECT_EQ(zef::startHW(7050000), 512);
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 2) << "the reopen found nothing";
    zef::setHWLO(7060000); // a settings frame is pending on every pass
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(counters().closed_handle_calls, 0U) << "the worker used the closed handle";
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 2) << "a stale write overwrote the status";

    zefsim_replug(0);
    delivery.reset();
    EXPECT_EQ(zef::startHW(7050000), 512);
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 0);
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 2; }));
    ASSERT_TRUE(blocksArrive(30));
    expectIntactBlocks();
    EXPECT_EQ(counters().closed_handle_calls, 0U);
    EXPECT_EQ(zef::deviceState.driverStatus.load(), 0);
}

TEST_F(HostSequences, CloseFromTheCallbackThenInitAndStartStreamsAgain) {
    start();
    ASSERT_TRUE(blocksArrive(10));
    reentry = Reentry::CloseOnce;
    ASSERT_TRUE(waitUntil([] { return reentered.load() == 1; }));
    EXPECT_LT(longestReentryUs.load(), 100000U) << "CloseHW from the callback returns promptly";
    EXPECT_TRUE(zef::deviceState.firstInit.load());
    std::this_thread::sleep_for(milliseconds(100));

    delivery.reset();
    withinSeconds(10, "InitHW and StartHW", [] {
        EXPECT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
        EXPECT_EQ(zef::startHW(7050000), 512);
    });
    ASSERT_TRUE(blocksArrive(40)) << "the plug-in works again without a restart of the host";
    expectIntactBlocks();
    EXPECT_EQ(counters().closed_handle_calls, 0U);
}

// Every entry point that takes the life-cycle lock, called from the callback
// on every block while the host's thread closes the plug-in.
TEST_F(HostSequences, CallbacksThatCallBackInNeverDeadlockCloseHW) {
    for (const Reentry action :
         {Reentry::StartEveryBlock, Reentry::CloseEveryBlock, Reentry::InitEveryBlock}) {
        reentry = Reentry::None;
        reentered = 0;
        start();
        ASSERT_TRUE(blocksArrive(5));
        insideCallback = false;
        reentry = action;
        ASSERT_TRUE(waitUntil([] { return insideCallback.load(); }));
        withinSeconds(10, "CloseHW during a re-entrant callback", [] { zef::closeHW(); });
        reentry = Reentry::None;
        withinSeconds(10, "CloseHW afterwards", [] { zef::closeHW(); });
        EXPECT_EQ(counters().closed_handle_calls, 0U);
    }
    // And the plug-in still comes up after all that.
    delivery.reset();
    start();
    ASSERT_TRUE(blocksArrive(20));
    expectIntactBlocks();
}

} // namespace
} // namespace zef::test

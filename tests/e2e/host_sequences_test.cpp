// Host behaviour beyond the polite call order: a reopen that finds nothing,
// CloseHW from inside the callback, and callbacks that call back into the
// plug-in while the host's thread closes it.
#include "sim_harness.h"

#include "main_thread/extio_thread.h"
#include "usb_func/open_device.h"

#include <cstdio>
#include <cstdlib>
#include <future>

namespace zef::test {
namespace {

// What the callback does after recording a block.
enum class Reentry { None, CloseOnce, StartEveryBlock, CloseEveryBlock, InitEveryBlock };
std::atomic<Reentry> reentry{Reentry::None};
std::atomic<std::uint64_t> reentered{0};
std::atomic<std::uint64_t> longestReentryUs{0};
// Raised while a re-entrant callback waits before calling in: it calls in
// only once the host's thread is inside CloseHW (which raises firstInit), so
// that its call meets a CloseHW waiting for this very callback.
std::atomic<bool> insideCallback{false};
// CloseOnce: raised after the callback's CloseHW. The callback then stays
// until the host's InitHW is under way (it lowers firstInit), so that InitHW
// meets a worker still finishing.
std::atomic<bool> closedInCallback{false};
// A callback that waited in vain for the host's thread.
std::atomic<std::uint64_t> raceMissed{0};

void waitForTheHost(bool firstInit) {
    if (!waitUntil([firstInit] { return zef::deviceState.firstInit.load() == firstInit; })) {
        ++raceMissed;
    }
}

extern "C" void EXTIO_CALLBACK_CALL reentrantBlock(int count, int status, float iqOffset,
                                                   void* data) {
    recordBlock(count, status, iqOffset, data);
    const Reentry action = reentry.load();
    if (action == Reentry::None) {
        return;
    }
    if (action != Reentry::CloseOnce) {
        insideCallback = true;
        waitForTheHost(true);
    }
    const std::uint64_t began = platform::nowMicroseconds();
    switch (action) {
    case Reentry::None:
        break;
    case Reentry::CloseOnce:
        reentry.store(Reentry::None);
        zef::closeHW();
        closedInCallback = true;
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
    if (action == Reentry::CloseOnce) {
        waitForTheHost(false);
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
        closedInCallback = false;
        raceMissed = 0;
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
    // What CloseHW leaves, whatever the callback called meanwhile.
    static void expectClosed() {
        EXPECT_FALSE(zef::portOpen());
        EXPECT_EQ(counters().closes, counters().opens);
        EXPECT_NE(zef::deviceState.driverStatus.load(), 0);
        EXPECT_FALSE(zef::deviceState.streaming.load());
        const ExtIO_Thread* worker = zef::deviceState.worker;
        EXPECT_TRUE(worker == nullptr || !worker->started()) << "a worker still runs";
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
    ASSERT_TRUE(workerRunsPasses(3));
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

// A gateware that needs a while after its start command loses a frame sent
// before its ready status; after a replug the ready wait must wait for it.
TEST_F(HostSequences, AReplugWithASlowGatewareGetsItsTuningBack) {
    zefsim_set_gateware_startup_ms(150);
    start();
    ASSERT_TRUE(blocksArrive(10));
    std::array<std::uint8_t, 65> before{};
    const std::uint64_t heard = zefsim_last_settings(before.data());
    ASSERT_GT(heard, 0U);
    zefsim_unplug(0);
    zefsim_replug(0);
    EXPECT_EQ(zef::startHW(7050000), 512);
    ASSERT_TRUE(waitUntil([] { return counters().configs_accepted == 2; }));
    ASSERT_TRUE(waitUntil([&] { return zefsim_last_settings(nullptr) > heard; }))
        << counters().settings_unheard << " frames lost: the replugged device stays untuned";
    std::array<std::uint8_t, 65> after{};
    zefsim_last_settings(after.data());
    EXPECT_EQ(after, before);
    EXPECT_EQ(counters().settings_unheard, 0U);
}

TEST_F(HostSequences, CloseFromTheCallbackThenInitAndStartStreamsAgain) {
    start();
    ASSERT_TRUE(blocksArrive(10));
    reentry = Reentry::CloseOnce;
    ASSERT_TRUE(waitUntil([] { return closedInCallback.load(); }));
    EXPECT_TRUE(zef::deviceState.firstInit.load());

    delivery.reset(); // at once: the worker is still in its callback
    withinSeconds(10, "InitHW and StartHW", [] {
        EXPECT_TRUE(zef::initHW(nullptr, nullptr, nullptr));
        EXPECT_EQ(zef::startHW(7050000), 512);
    });
    ASSERT_TRUE(blocksArrive(40)) << "the plug-in works again without a restart of the host";
    EXPECT_EQ(reentered.load(), 1U);
    EXPECT_EQ(raceMissed.load(), 0U) << "InitHW came only after the callback";
    EXPECT_LT(longestReentryUs.load(), 100000U) << "CloseHW from the callback returns promptly";
    expectIntactBlocks();
    EXPECT_EQ(counters().closed_handle_calls, 0U);
}

// Every entry point that takes the life-cycle lock, called from the callback
// on every block while the host's thread closes the plug-in: CloseHW wins.
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
        expectClosed();
        EXPECT_EQ(raceMissed.load(), 0U) << "no callback called in during CloseHW";
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

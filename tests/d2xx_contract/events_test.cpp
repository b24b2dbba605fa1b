// Event notification on Linux: FT_SetEventNotification(FT_EVENT_RXCHAR)
// with FTDI's EVENT_HANDLE, which the driver signals on its condition
// variable when characters have been received; a program waits on it
// holding its mutex. Chosen granularity, as FTDI's driver works in USB
// transfers: one signal per completed transfer that brought bytes.
#include "contract_fixture.h"

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace zef::contract {
namespace {

class Event {
  public:
    Event() {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&handle_.eCondVar, &attr);
        pthread_condattr_destroy(&attr);
        pthread_mutex_init(&handle_.eMutex, nullptr);
    }
    ~Event() {
        pthread_cond_destroy(&handle_.eCondVar);
        pthread_mutex_destroy(&handle_.eMutex);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    EVENT_HANDLE* handle() { return &handle_; }
    void lock() { pthread_mutex_lock(&handle_.eMutex); }
    void unlock() { pthread_mutex_unlock(&handle_.eMutex); }
    // With the mutex held; true when signalled before `ms`.
    bool wait(long ms) {
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_nsec += ms % 1000 * 1000000L;
        until.tv_sec += ms / 1000 + until.tv_nsec / 1000000000L;
        until.tv_nsec %= 1000000000L;
        return pthread_cond_timedwait(&handle_.eCondVar, &handle_.eMutex, &until) == 0;
    }
    void signal() { pthread_cond_signal(&handle_.eCondVar); }

  private:
    EVENT_HANDLE handle_{};
};

// A waiter that holds the mutex except inside its wait, and never calls the
// driver, sees every signal the driver sends (the driver must take the
// mutex to signal): about one per transfer that brought bytes, and none
// without the driver.
TEST_P(D2xxContract, EventIsSignalledOncePerTransferThatBringsBytes) {
    if (d2xx().SetEventNotification == nullptr) {
        GTEST_SKIP() << GetParam() << " has no FT_SetEventNotification";
    }
    const FT_HANDLE h = open();
    Event event;
    ASSERT_EQ(d2xx().SetEventNotification(h, FT_EVENT_RXCHAR, event.handle()), FT_OK);
    std::atomic<bool> stop{false};
    std::atomic<bool> waiting{false};
    std::atomic<std::uint64_t> wakes{0};
    std::thread waiter([&] {
        event.lock();
        waiting.store(true);
        while (!stop.load()) {
            if (event.wait(2000) && !stop.load()) {
                wakes.fetch_add(1);
            }
        }
        event.unlock();
    });
    ASSERT_TRUE(waitFor([&] { return waiting.load(); }));
    startStream(h);
    const std::uint64_t first = model().counts().transfersWithData;
    ASSERT_TRUE(waitFor([&] { return model().counts().transfersWithData >= first + 20; }));
    const std::uint64_t transfers = model().counts().transfersWithData;
    const std::uint64_t seen = wakes.load();
    ASSERT_EQ(d2xx().SetEventNotification(h, 0, nullptr), FT_OK);
    stop.store(true);
    event.lock();
    event.signal();
    event.unlock();
    waiter.join();
    EXPECT_GT(seen, 0U) << "never signalled";
    EXPECT_GE(seen * 2, transfers - first) << seen << " signals for " << transfers << " transfers";
    EXPECT_LE(seen, transfers + 1) << seen << " signals for " << transfers << " transfers";
}

// A program that waits in the usual way (lock the mutex, ask the queue,
// wait on the condition) and one that keeps the mutex across its driver
// calls, reads among them, both run with the driver's thread and never
// wait for each other: a read of 8000 bytes made with the mutex held gets
// them well within its time-out.
TEST_P(D2xxContract, WaitingInTheUsualWayNeverDeadlocksWithTheDriver) {
    if (d2xx().SetEventNotification == nullptr) {
        GTEST_SKIP() << GetParam() << " has no FT_SetEventNotification";
    }
    const FT_HANDLE h = open();
    ASSERT_EQ(d2xx().SetTimeouts(h, 2000, 500), FT_OK);
    Event event;
    ASSERT_EQ(d2xx().SetEventNotification(h, FT_EVENT_RXCHAR, event.handle()), FT_OK);
    startStream(h);
    withinOrDeadlocked(
        std::chrono::seconds(20),
        [&] {
            Bytes buffer(8000);
            for (int round = 0; round < 10; ++round) {
                // The usual way: the mutex only around the wait.
                event.lock();
                DWORD queued = 0;
                while (d2xx().GetQueueStatus(h, &queued) == FT_OK && queued == 0) {
                    event.wait(100);
                }
                event.unlock();
                readQueued(h);
                // The mutex held across the calls, a read that waits among them.
                event.lock();
                EXPECT_EQ(d2xx().GetQueueStatus(h, &queued), FT_OK);
                DWORD got = 0;
                const auto start = Clock::now();
                EXPECT_EQ(d2xx().Read(h, buffer.data(), 8000, &got), FT_OK);
                EXPECT_EQ(got, 8000U) << "the stream stopped while the mutex was held";
                EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
                event.wait(50);
                event.unlock();
            }
        },
        "a reader waiting on the driver's event");
    ASSERT_EQ(d2xx().SetEventNotification(h, 0, nullptr), FT_OK);
}

} // namespace
} // namespace zef::contract

// A thread whose creation fails must not look as if a body still ran:
// CloseHW would wait for it for ever.
#include "platform/platform.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <pthread.h>

namespace {

class ShortThread : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

// The next pthread_create asks for a stack no system can map.
class UnmappableStacks {
  public:
    UnmappableStacks() {
        pthread_getattr_default_np(&saved_);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t{1} << 46U);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~UnmappableStacks() {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }
    UnmappableStacks(const UnmappableStacks&) = delete;
    UnmappableStacks& operator=(const UnmappableStacks&) = delete;

  private:
    pthread_attr_t saved_{};
};

TEST(ThreadStart, AFailedStartLeavesNothingToWaitFor) {
    ShortThread thread;
    ASSERT_TRUE(thread.start());
    ASSERT_TRUE(zef::test::waitUntil([&] { return thread.finished(); }));
    thread.stop();
    bool started = false;
    {
        UnmappableStacks failing;
        started = thread.start();
    }
    if (started) {
        GTEST_SKIP() << "the creation failure could not be injected here";
    }
    EXPECT_FALSE(thread.started());
    EXPECT_TRUE(thread.finished()) << "a waiter would wait for a body that never runs";
}

} // namespace
#endif

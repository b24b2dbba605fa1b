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

TEST(ThreadStart, AFailedStartLeavesNothingToWaitFor) {
    ShortThread thread;
    ASSERT_TRUE(thread.start());
    ASSERT_TRUE(zef::test::waitUntil([&] { return thread.finished(); }));
    thread.stop();
    // The next creation asks for a stack no system can map.
    pthread_attr_t saved;
    pthread_attr_t huge;
    pthread_getattr_default_np(&saved);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, std::size_t{1} << 46U);
    pthread_setattr_default_np(&huge);
    const bool started = thread.start();
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    if (started) {
        GTEST_SKIP() << "the creation failure could not be injected here";
    }
    EXPECT_TRUE(thread.finished()) << "a waiter would wait for a body that never runs";
}

} // namespace
#endif

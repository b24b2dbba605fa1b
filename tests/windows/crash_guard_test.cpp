// A crash on a thread other than the test's own fails the test program.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

DWORD WINAPI crashingThread(void* /*unused*/) {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 0;
}

void crashInAThread() {
    HANDLE thread = CreateThread(nullptr, 0, &crashingThread, nullptr, 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    ExitProcess(0); // as Wine would end it without the guard
}

TEST(CrashGuard, ACrashInAnyThreadFailsTheProgram) {
    EXPECT_EXIT(crashInAThread(), testing::ExitedWithCode(3), "crash: exception 0xC0000005");
}

} // namespace

#include "crash_guard.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

namespace zef::test {

namespace {

// Runs on the crashed thread: no locks, no heap, only a stack buffer and
// system calls.
LONG WINAPI exitOnCrash(EXCEPTION_POINTERS* crash) {
    const EXCEPTION_RECORD* record = crash != nullptr ? crash->ExceptionRecord : nullptr;
    char text[128];
    const int length =
        std::snprintf(text, sizeof text, "crash: exception 0x%08lX at %p in thread %lu\n",
                      record != nullptr ? static_cast<unsigned long>(record->ExceptionCode) : 0UL,
                      record != nullptr ? record->ExceptionAddress : nullptr,
                      static_cast<unsigned long>(GetCurrentThreadId()));
    DWORD written = 0;
    if (length > 0) {
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written,
                  nullptr);
    }
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void failOnCrash() {
    SetUnhandledExceptionFilter(&exitOnCrash);
}

} // namespace zef::test

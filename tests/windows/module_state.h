// What a host process can see of the plug-in after it was freed: whether the
// module is still mapped and how many threads run.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

namespace zef::test {

inline unsigned threadsInProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    unsigned count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more != 0;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

// Thread exit and module unload finish shortly after the calls that ask for
// them; poll rather than sleep a fixed time.
template <typename Condition> bool eventually(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) {
            return true;
        }
        Sleep(1);
    }
    return condition();
}

// Under Wine a process whose thread crashed ends with status 0: a crash in
// the plug-in's worker must fail the test instead.
inline LONG WINAPI exitOnCrash(EXCEPTION_POINTERS* /*crash*/) {
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

inline bool pluginMapped() {
    return GetModuleHandleA("ExtIO_Zef.dll") != nullptr;
}

} // namespace zef::test

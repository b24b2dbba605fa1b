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
// them; poll rather than sleep a fixed time, for up to 10 s.
template <typename Condition> bool eventually(Condition condition) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!condition()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

inline bool pluginMapped() {
    return GetModuleHandleA("ExtIO_Zef.dll") != nullptr;
}

} // namespace zef::test

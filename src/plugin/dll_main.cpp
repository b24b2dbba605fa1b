// The library's entry routine. It runs under the loader lock, so it must not
// wait, join, load or free libraries, nor take a lock that anyone holds
// across those: shutdown belongs to CloseHW, and a
// worker still running at FreeLibrary keeps the module mapped on its own. So
// an unload only ever meets a stopped worker, whose object and event it frees
// (no waiting, no lock); at process exit it does nothing at all.
// Thread notifications stay on, because the static runtime frees its
// thread-local data on them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "entry_points.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        zef::releaseResources();
    }
    return TRUE;
}

// The library's entry routine. It runs under the loader lock, so it must not
// wait, join, load or free anything: shutdown belongs to CloseHW, and a worker
// still running at FreeLibrary keeps the module mapped on its own.
// Thread notifications stay on, because the static runtime frees its
// thread-local data on them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}

#include "bridge_client.h"

#include <cstring>

namespace {

// Under Wine a process whose thread crashed ends with status 0.
LONG WINAPI exitOnCrash(EXCEPTION_POINTERS* crash) {
    zef::bridgeclient::say("crashed 0x%08lx",
                           static_cast<unsigned long>(crash->ExceptionRecord->ExceptionCode));
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(&exitOnCrash);
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "exports") == 0) {
        return zef::bridgeclient::printExports();
    }
    if (std::strcmp(mode, "list") == 0) {
        return zef::bridgeclient::listAndOpen();
    }
    if (std::strcmp(mode, "blocked-read") == 0) {
        return zef::bridgeclient::readWhileUnplugged();
    }
    if (std::strcmp(mode, "stream") == 0) {
        return zef::bridgeclient::streamThroughPlugin();
    }
    std::fprintf(stderr, "usage: bridge_client exports|list|blocked-read|stream\n");
    return 2;
}

// A D2XX library that stands between the plug-in and the open driver and
// watches every call: how long it took against what it may take, and
// whether its handle was still open. The tests load it by path as the
// plug-in's driver and read the report through zefwatch_report.
#pragma once

#include <cstdint>

extern "C" {

struct ZefWatchReport {
    std::uint64_t calls;
    std::uint64_t lateCalls;         // returned later than their time-out plus 1 s
    std::uint64_t closedHandleCalls; // named a handle already closed, or never opened
    std::uint32_t worstOverrunMs;    // how far past its bound the latest call came back
    char worstCall[32];              // and its name
    char closedCall[32];             // the last call on a closed handle
};

using ZefWatchReportFunction = void (*)(ZefWatchReport*);
inline constexpr const char* kZefWatchReportName = "zefwatch_report";
}

// Shared shape of every call on an open handle: log it, take the lock, find
// the port, refuse unknown handles and pulled cables.
#pragma once

#include "sim/sim_state.h"

#include <cstdarg>
#include <cstdio>

namespace zef::sim {

// One line of the call log, formatted on the caller's stack.
struct CallLine {
    char text[160];
};

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline CallLine
callLine(const char* format, ...) {
    CallLine line{};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line.text, sizeof line.text, format, args);
    va_end(args);
    return line;
}

// `line` is logged unless null (reads, writes and queue queries are not);
// `body(state, port)` runs under the lock. A logged call may change what the
// driver's thread waits for, so it is woken after one.
template <typename Body>
d2xx::FT_STATUS onPort(d2xx::FT_HANDLE handle, const CallLine* line, Body body) {
    SimState& state = simState();
    platform::LockGuard guard(state.lock);
    if (line != nullptr) {
        state.log.add(line->text);
    }
    Port* port = findPort(state, handle);
    if (port == nullptr) {
        return d2xx::FT_INVALID_HANDLE;
    }
    if (port->dead()) {
        return d2xx::FT_IO_ERROR;
    }
    const d2xx::FT_STATUS status = body(state, *port);
    if (line != nullptr) {
        state.changed.notifyAll();
    }
    return status;
}

} // namespace zef::sim

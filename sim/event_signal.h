// Wakes what the host registered with FT_SetEventNotification: a Win32 event
// handle, or on POSIX the address of FTDI's EVENT_HANDLE, whose mutex the
// signal takes as a waiter expects. A host may hold that mutex across its
// own driver calls, so the signal never waits for it for long.
#pragma once

#include <cstdint>

namespace zef::sim {

enum class EventSignal {
    Sent,
    Busy,    // the host held its mutex all the time given: try again
    Refused, // Windows refused the handle: the host closed an event it left registered
};

EventSignal signalDriverEvent(void* param, std::uint32_t patienceMs);

} // namespace zef::sim

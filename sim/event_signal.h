// Wakes what the host registered with FT_SetEventNotification: a Win32 event
// handle, or on POSIX the address of FTDI's EVENT_HANDLE. False when Windows
// refuses the handle: the host closed an event it left registered.
#pragma once

namespace zef::sim {

bool signalDriverEvent(void* param);

} // namespace zef::sim

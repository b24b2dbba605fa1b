// Wakes what the host registered with FT_SetEventNotification: a Win32 event
// handle, or on POSIX the address of FTDI's EVENT_HANDLE.
#pragma once

namespace zef::sim {

void signalDriverEvent(void* param);

} // namespace zef::sim

// The exported D2XX entry points of one flavour of the simulated driver.
// Built once per library: ZEFSIM_BRIDGE selects the "lin_" names and drops
// the extra set; ZEFSIM_OMIT_<name> leaves an entry point out, for the
// libraries that binding tests expect to fail.
#include "sim/d2xx_exports.h"
#include "sim/simulated_driver.h"

using namespace zef::d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API
namespace driver = zef::sim::driver;

extern "C" {
#if !defined(ZEFSIM_OMIT_FT_Open)
ZEFSIM_ENTRY(FT_Open)(int index, FT_HANDLE* handle) {
    return driver::open(index, handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_Close)
ZEFSIM_ENTRY(FT_Close)(FT_HANDLE handle) {
    return driver::close(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_Read)
ZEFSIM_ENTRY(FT_Read)(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    return driver::read(handle, buffer, size, got);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_Write)
ZEFSIM_ENTRY(FT_Write)(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
    return driver::write(handle, buffer, size, written);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_GetQueueStatus)
ZEFSIM_ENTRY(FT_GetQueueStatus)(FT_HANDLE handle, DWORD* rxBytes) {
    return driver::getQueueStatus(handle, rxBytes);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_ResetDevice)
ZEFSIM_ENTRY(FT_ResetDevice)(FT_HANDLE handle) {
    return driver::resetDevice(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetBaudRate)
ZEFSIM_ENTRY(FT_SetBaudRate)(FT_HANDLE handle, ULONG baud) {
    return driver::setBaudRate(handle, baud);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetTimeouts)
ZEFSIM_ENTRY(FT_SetTimeouts)(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return driver::setTimeouts(handle, readMs, writeMs);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetLatencyTimer)
ZEFSIM_ENTRY(FT_SetLatencyTimer)(FT_HANDLE handle, UCHAR milliseconds) {
    return driver::setLatencyTimer(handle, milliseconds);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_ListDevices)
ZEFSIM_ENTRY(FT_ListDevices)(void* arg1, void* arg2, DWORD flags) {
    return driver::listDevices(arg1, arg2, flags);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_OpenEx)
ZEFSIM_ENTRY(FT_OpenEx)(void* arg, DWORD flags, FT_HANDLE* handle) {
    return driver::openEx(arg, flags, handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_CreateDeviceInfoList)
ZEFSIM_ENTRY(FT_CreateDeviceInfoList)(DWORD* count) {
    return driver::createDeviceInfoList(count);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetBitMode)
ZEFSIM_ENTRY(FT_SetBitMode)(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return driver::setBitMode(handle, mask, mode);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_StopInTask)
ZEFSIM_ENTRY(FT_StopInTask)(FT_HANDLE handle) {
    return driver::stopInTask(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_RestartInTask)
ZEFSIM_ENTRY(FT_RestartInTask)(FT_HANDLE handle) {
    return driver::restartInTask(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_Purge)
ZEFSIM_ENTRY(FT_Purge)(FT_HANDLE handle, ULONG mask) {
    return driver::purge(handle, mask);
}
#endif

#if !defined(ZEFSIM_BRIDGE)

#if !defined(ZEFSIM_OMIT_FT_CyclePort)
ZEFSIM_ENTRY(FT_CyclePort)(FT_HANDLE handle) {
    return driver::cyclePort(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetDataCharacteristics)
ZEFSIM_ENTRY(FT_SetDataCharacteristics)(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity) {
    return driver::setDataCharacteristics(handle, bits, stop, parity);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_GetModemStatus)
ZEFSIM_ENTRY(FT_GetModemStatus)(FT_HANDLE handle, ULONG* status) {
    return driver::getModemStatus(handle, status);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetFlowControl)
ZEFSIM_ENTRY(FT_SetFlowControl)(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) {
    return driver::setFlowControl(handle, mode, xon, xoff);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetRts)
ZEFSIM_ENTRY(FT_SetRts)(FT_HANDLE handle) {
    return driver::setRts(handle);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetChars)
ZEFSIM_ENTRY(FT_SetChars)
(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn) {
    return driver::setChars(handle, event, eventOn, error, errorOn);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_SetEventNotification)
ZEFSIM_ENTRY(FT_SetEventNotification)(FT_HANDLE handle, DWORD mask, void* param) {
    return driver::setEventNotification(handle, mask, param);
}
#endif

#if !defined(ZEFSIM_OMIT_FT_GetStatus)
ZEFSIM_ENTRY(FT_GetStatus)(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    return driver::getStatus(handle, rxBytes, txBytes, events);
}
#endif

#endif // !ZEFSIM_BRIDGE

} // extern "C"

// The D2XX operations of the simulated driver. Both flavours' exported entry
// points forward here; statuses are D2XX's own.
#pragma once

#include "zef/d2xx.h"

namespace zef::sim::driver {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

// Device list and open (driver_devices.cpp).
FT_STATUS createDeviceInfoList(DWORD* count);
FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
FT_STATUS open(int index, FT_HANDLE* handle);
FT_STATUS openEx(void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS close(FT_HANDLE handle);

// Traffic (driver_io.cpp).
FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got);
FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD size, DWORD* written);
FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events);
FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
FT_STATUS purge(FT_HANDLE handle, ULONG mask);
FT_STATUS stopInTask(FT_HANDLE handle);
FT_STATUS restartInTask(FT_HANDLE handle);
FT_STATUS setEventNotification(FT_HANDLE handle, DWORD mask, void* param);

// Port set-up (driver_setup.cpp).
FT_STATUS resetDevice(FT_HANDLE handle);
FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud);
FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR milliseconds);
FT_STATUS cyclePort(FT_HANDLE handle);
FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity);
FT_STATUS getModemStatus(FT_HANDLE handle, ULONG* status);
FT_STATUS setFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff);
FT_STATUS setRts(FT_HANDLE handle);
FT_STATUS setChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn);

} // namespace zef::sim::driver

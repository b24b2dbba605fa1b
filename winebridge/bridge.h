// The sixteen calls of the bridge library in Linux terms: what each
// lin_FT_* export does with its arguments before and after the Linux D2XX
// library has them. Devices are listed and opened as device_list.h says,
// handles are tokens (handle_table.h), and every status comes back from the
// Linux library unchanged; only a call the Linux library would have to guess
// at (a null pointer, an unknown token, an index past the list) is answered
// here. Nothing is copied past the size the caller gave. Safe from any
// thread.
#pragma once

#include "device_list.h"
#include "handle_table.h"
#include "linux_driver.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace zef::winebridge {

class Bridge {
  public:
    explicit Bridge(const LinuxD2xx& d2xx) : d2xx_(d2xx) {}

    FT_STATUS open(int index, FT_HANDLE* handle);
    FT_STATUS openEx(void* arg, DWORD flags, FT_HANDLE* handle);
    FT_STATUS close(FT_HANDLE handle);
    FT_STATUS createDeviceInfoList(DWORD* count);
    FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
    FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got);
    FT_STATUS write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* written);
    FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
    FT_STATUS resetDevice(FT_HANDLE handle);
    FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud);
    FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
    FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR milliseconds);
    FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
    FT_STATUS stopInTask(FT_HANDLE handle);
    FT_STATUS restartInTask(FT_HANDLE handle);
    FT_STATUS purge(FT_HANDLE handle, ULONG mask);

  private:
    FT_STATUS relist();                                      // under listLock_
    FT_STATUS openListed(DWORD location, FT_HANDLE* handle); // under listLock_
    FT_STATUS listOne(std::uintptr_t index, void* out, DWORD what);
    FT_STATUS listAll(void* arg1, void* arg2, DWORD what);
    template <typename Call> FT_STATUS onHandle(FT_HANDLE token, Call call) const;

    LinuxD2xx d2xx_;
    std::mutex listLock_;
    std::vector<ListedInstrument> listed_; // under listLock_: the last list made
    bool listMade_ = false;                // under listLock_
    HandleTable handles_;
};

} // namespace zef::winebridge

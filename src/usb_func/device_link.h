// The worker's way to the open device. A job takes the session once, when it
// starts; every driver call it makes then goes through `onLink`, which holds
// the driver lock and makes the call only while that session is still the
// open one. After a reopen or a close from the host's thread the job's calls
// do nothing, so no call ever reaches a closed handle, and a job never goes
// on with the next device in the middle of its work.
#pragma once

#include "driver_lock.h"
#include "open_device.h"
#include "plugin/device_state.h"
#include "zef/d2xx.h"

namespace zef {

// `call(handle)` under the driver lock if `link` is still the open device;
// otherwise no driver call and FT_INVALID_HANDLE. A status that `call` stores
// in DeviceState belongs to this handle: a newer open can only come after
// the lock is released, and stores its own result in its hold of the lock.
// A device whose FPGA load is pending is not configured: OpenDevice raises
// configNeeded in the hold of the lock that begins its session, and only the
// load, which lowers the flag first, may reach it.
template <typename Call> d2xx::FT_STATUS onLink(LinkSession link, Call call) {
    platform::LockGuard guard(driverLock());
    if (link == kNoLink || link != currentLink() || deviceState.configNeeded.load()) {
        return d2xx::FT_INVALID_HANDLE;
    }
    return call(deviceState.deviceHandle);
}

} // namespace zef

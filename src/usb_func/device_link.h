// The worker's way to the open device. A job takes the session once, when it
// starts, and makes every driver call through `onLink`: after a reopen or a
// close the job's calls do nothing, so it never goes on with the next device
// in the middle of its work (the rules: device_session.h).
#pragma once

#include "device_session.h"
#include "driver_lock.h"
#include "open_device.h"
#include "plugin/device_state.h"
#include "zef/d2xx.h"

namespace zef {

// `call(handle)` under the driver lock if `link` is still the open device
// and no load is pending for it; otherwise no driver call and
// FT_INVALID_HANDLE.
template <typename Call> d2xx::FT_STATUS onLink(LinkSession link, Call call) {
    platform::LockGuard guard(driverLock());
    if (link == kNoLink || link != currentLink() || loadPending()) {
        return d2xx::FT_INVALID_HANDLE;
    }
    return call(deviceState.deviceHandle);
}

} // namespace zef

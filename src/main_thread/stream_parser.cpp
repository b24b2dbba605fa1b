#include "stream_parser.h"

#include "frame_parser.h"
#include "plugin/device_state.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"

#include <algorithm>
#include <array>

namespace zef {

namespace {

// Static so a pass allocates nothing; passes never run concurrently.
std::array<std::uint8_t, kMaxPassBytes> passBuffer;

// Bytes read into passBuffer; a failed query or read counts as nothing.
DWORD readQueued() {
    // The lock keeps a reopen from replacing the handle between the two calls.
    platform::LockGuard guard(driverLock());
    const FT_HANDLE handle = deviceState.deviceHandle;
    DWORD queued = 0;
    if (FT_GetQueueStatus(handle, &queued) != FT_OK || queued == 0) {
        return 0;
    }
    const DWORD wanted = std::min(queued, kMaxPassBytes);
    DWORD got = 0;
    if (FT_Read(handle, passBuffer.data(), wanted, &got) != FT_OK) {
        return 0;
    }
    // A driver that claims more than it was asked for must not make us read
    // past the buffer.
    return std::min(got, wanted);
}

} // namespace

void parserPass(const platform::Thread& worker) {
    const DWORD got = readQueued();
    if (got == 0) {
        return;
    }
    parseBytes(parserState, {passBuffer.data(), got}, worker);
}

} // namespace zef

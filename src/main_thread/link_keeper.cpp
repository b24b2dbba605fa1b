#include "link_keeper.h"

#include "plugin/device_state.h"
#include "plugin/entry_points.h"
#include "stream_parser.h"
#include "usb_func/device_session.h"
#include "usb_func/open_device.h"

#include <atomic>

namespace zef {

namespace {

std::atomic<bool> keeping{true};
// The worker's alone.
std::uint64_t lastCheckUs = 0;
std::uint64_t lastReopenUs = 0;

} // namespace

void setLinkKeeping(bool on) {
    keeping.store(on);
}

void keepLink(const platform::Thread& worker) {
    if (!keeping.load() || !deviceState.streaming.load() || loadUnderWay() ||
        worker.terminateRequested()) {
        return;
    }
    const std::uint64_t now = platform::nowMicroseconds();
    if (now - lastBytesUs() < kLinkSilenceUs || now - lastCheckUs < kLinkCheckEveryUs) {
        return;
    }
    lastCheckUs = now;
    // A device that is there but says nothing (gateware that never came up)
    // is not opened again: that would only load it again and again.
    if (portOpen() && CheckLink() == 0) {
        return;
    }
    if (now - lastReopenUs < kReopenEveryUs) {
        return;
    }
    lastReopenUs = now;
    reopenLostDevice();
}

} // namespace zef

#include "stream_parser.h"

#include "frame_parser.h"
#include "plugin/device_state.h"
#include "usb_func/device_link.h"
#include "usb_func/driver_table.h"

#include <algorithm>
#include <array>

namespace zef {

namespace {

// Static so a pass allocates nothing; passes never run concurrently.
std::array<std::uint8_t, kMaxPassBytes> passBuffer;
std::uint64_t lastReadUs = 0;

// Bytes read into passBuffer from the open device, and the session they
// were read in; a failed query or read, or no device open, counts as nothing.
DWORD readQueued(LinkSession& link) {
    DWORD got = 0;
    link = currentLink();
    // One hold of the lock for both calls, so a reopen cannot come between.
    onLink(link, [&got](FT_HANDLE handle) {
        DWORD queued = 0;
        if (FT_GetQueueStatus(handle, &queued) != FT_OK || queued == 0) {
            return FT_OK;
        }
        const DWORD wanted = std::min(queued, kMaxPassBytes);
        if (FT_Read(handle, passBuffer.data(), wanted, &got) != FT_OK) {
            got = 0;
        }
        // A driver that claims more than it was asked for must not make us
        // read past the buffer.
        got = std::min(got, wanted);
        return FT_OK;
    });
    return got;
}

} // namespace

void parserPass(const platform::Thread& worker) {
    LinkSession link = kNoLink;
    const DWORD got = readQueued(link);
    if (got == 0) {
        return;
    }
    lastReadUs = platform::nowMicroseconds();
    // A frame begun on the closed device cannot end on this one.
    if (parserState.session != link) {
        parserState = ParserState{};
        parserState.session = link;
    }
    parseBytes(parserState, {passBuffer.data(), got}, worker);
}

std::uint64_t lastBytesUs() {
    return lastReadUs;
}

} // namespace zef

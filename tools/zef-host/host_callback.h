// The sample callback given to the plug-in. It runs on the plug-in's worker
// thread: it copies each block into the ring and counts, nothing more.
#pragma once

#include "plugin/extio_api.h"
#include "sample_ring.h"

#include <atomic>
#include <cstdint>

namespace zef::host {

struct CallbackCounters {
    std::atomic<std::uint64_t> blocks{0};
    std::atomic<std::uint64_t> pairsDelivered{0};
    std::atomic<std::uint64_t> pairsDropped{0}; // the ring was full
    std::atomic<std::uint64_t> blocksDropped{0};
    std::atomic<std::uint64_t> oddBlocks{0};    // size other than StartHW's, or no data
    std::atomic<std::uint64_t> statusCalls{0};  // count < 0: a notification, no samples
    std::atomic<std::uint64_t> firstBlockUs{0}; // platform::nowMicroseconds
    std::atomic<std::uint64_t> lastBlockUs{0};
};

// The ring must outlive every call the plug-in can still make (until CloseHW
// has returned). `expectedPairs` is what StartHW returned (0: not yet known).
void attachRing(SampleRing* ring);
void setExpectedBlockSize(int pairs);
ExtIOCallback sampleCallback();
const CallbackCounters& callbackCounters();

} // namespace zef::host

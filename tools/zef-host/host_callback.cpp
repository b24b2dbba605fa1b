#include "host_callback.h"

#include "platform/platform.h"

namespace zef::host {

namespace {

std::atomic<SampleRing*> ringInUse{nullptr};
std::atomic<int> expectedPairs{0};
CallbackCounters counters;

extern "C" void EXTIO_CALLBACK_CALL onSamples(int count, int /*status*/, float /*iqOffset*/,
                                              void* data) {
    if (count < 0) {
        counters.statusCalls.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const int expected = expectedPairs.load(std::memory_order_relaxed);
    if (data == nullptr || count == 0 || (expected > 0 && count != expected)) {
        counters.oddBlocks.fetch_add(1, std::memory_order_relaxed);
        if (data == nullptr || count == 0) {
            return;
        }
    }
    const std::uint64_t now = platform::nowMicroseconds();
    std::uint64_t unset = 0;
    counters.firstBlockUs.compare_exchange_strong(unset, now, std::memory_order_relaxed);
    counters.lastBlockUs.store(now, std::memory_order_relaxed);

    const auto pairs = static_cast<std::size_t>(count);
    SampleRing* ring = ringInUse.load(std::memory_order_acquire);
    if (ring == nullptr || !ring->push(static_cast<const std::int16_t*>(data), pairs)) {
        counters.pairsDropped.fetch_add(pairs, std::memory_order_relaxed);
        counters.blocksDropped.fetch_add(1, std::memory_order_relaxed);
    }
    counters.pairsDelivered.fetch_add(pairs, std::memory_order_relaxed);
    // Last, with release: whoever sees the block count sees the rest.
    counters.blocks.fetch_add(1, std::memory_order_release);
}

} // namespace

void attachRing(SampleRing* ring) {
    ringInUse.store(ring, std::memory_order_release);
}

void setExpectedBlockSize(int pairs) {
    expectedPairs.store(pairs, std::memory_order_relaxed);
}

ExtIOCallback sampleCallback() {
    return &onSamples;
}

const CallbackCounters& callbackCounters() {
    return counters;
}

} // namespace zef::host

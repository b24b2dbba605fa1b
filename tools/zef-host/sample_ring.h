// Single-producer, single-consumer ring of interleaved int16 I/Q pairs. The
// producer is the plug-in's worker inside the callback: it never waits and
// never allocates; a block that does not fit is dropped whole and the caller
// counts it. The consumer is the recording loop on the main thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zef::host {

class SampleRing {
  public:
    // `capacityPairs` is rounded up to a power of two.
    explicit SampleRing(std::size_t capacityPairs) {
        std::size_t capacity = 1;
        while (capacity < capacityPairs) {
            capacity <<= 1U;
        }
        mask_ = capacity - 1;
        storage_.assign(capacity * 2, 0);
    }

    [[nodiscard]] std::size_t capacity() const { return mask_ + 1; }

    // Producer only. Copies all `pairs` or none.
    bool push(const std::int16_t* iq, std::size_t pairs) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        if (pairs > capacity() - (head - tail)) {
            return false;
        }
        copyIn(head, iq, pairs);
        head_.store(head + pairs, std::memory_order_release);
        return true;
    }

    // Consumer only. Copies up to `maxPairs` pairs into `out`; returns how many.
    std::size_t pop(std::int16_t* out, std::size_t maxPairs) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t pairs = std::min(maxPairs, head - tail);
        copyOut(tail, out, pairs);
        tail_.store(tail + pairs, std::memory_order_release);
        return pairs;
    }

  private:
    void copyIn(std::size_t position, const std::int16_t* iq, std::size_t pairs) {
        const std::size_t start = position & mask_;
        const std::size_t first = std::min(pairs, capacity() - start);
        std::memcpy(storage_.data() + 2 * start, iq, first * 4);
        std::memcpy(storage_.data(), iq + 2 * first, (pairs - first) * 4);
    }
    void copyOut(std::size_t position, std::int16_t* out, std::size_t pairs) const {
        const std::size_t start = position & mask_;
        const std::size_t first = std::min(pairs, capacity() - start);
        std::memcpy(out, storage_.data() + 2 * start, first * 4);
        std::memcpy(out + 2 * first, storage_.data(), (pairs - first) * 4);
    }

    std::vector<std::int16_t> storage_;
    std::size_t mask_ = 0;
    alignas(64) std::atomic<std::size_t> head_{0}; // pairs ever pushed
    alignas(64) std::atomic<std::size_t> tail_{0}; // pairs ever popped
};

} // namespace zef::host

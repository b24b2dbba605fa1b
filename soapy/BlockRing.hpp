// A bounded ring of fixed-size sample blocks, preallocated, between the worker
// (push) and the reader (read). When full, a push drops the oldest block: the
// reader gets the freshest samples and one overflow mark at the gap. Every
// block keeps its number in the stream, so the reader knows where in time
// its next element lies, gaps included. Not thread-safe by itself; the
// stream guards it with its lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef::soapy {

class BlockRing {
  public:
    // `blockElements` complex elements of two int16 (I, Q) per block.
    BlockRing(std::size_t capacityBlocks, std::size_t blockElements)
        : capacity_(std::max<std::size_t>(capacityBlocks, 1)), blockElements_(blockElements),
          storage_(capacity_ * blockElements * 2), numbers_(capacity_) {}

    [[nodiscard]] std::size_t capacity() const { return capacity_; }
    [[nodiscard]] std::size_t blocks() const { return count_; }
    [[nodiscard]] bool empty() const { return count_ == 0; }
    [[nodiscard]] std::uint64_t droppedBlocks() const { return dropped_; }
    // Something for the reader: samples, or an overflow mark to report.
    [[nodiscard]] bool readable() const { return count_ != 0 || overflow_; }

    // Copies one block in; false when the oldest block had to be dropped.
    bool push(const std::int16_t* block) {
        bool kept = true;
        if (count_ == capacity_) {
            dropOldest();
            kept = false;
        }
        const std::size_t index = (head_ + count_) % capacity_;
        std::copy_n(block, blockElements_ * 2, slot(index));
        numbers_[index] = nextNumber_++;
        ++count_;
        return kept;
    }

    // The next `blocks` blocks never came (an outage): numbering skips them.
    void skip(std::uint64_t blocks) { nextNumber_ += blocks; }

    // Elements since the first block pushed after the last clear, up to the
    // next one to read (the first of the next block pushed when empty).
    [[nodiscard]] std::uint64_t nextElement() const {
        const std::uint64_t block = count_ != 0 ? numbers_[head_] : nextNumber_;
        return block * blockElements_ + offset_;
    }

    // Elements up to the end of the last block pushed, skipped ones included.
    [[nodiscard]] std::uint64_t endElement() const { return nextNumber_ * blockElements_; }

    // True once after blocks were dropped; the next read starts after the gap.
    bool takeOverflow() {
        const bool overflow = overflow_;
        overflow_ = false;
        return overflow;
    }

    // Copies up to `maxElements` elements, converting each int16 with
    // `convert`, across as many blocks as are buffered. `split` tells whether
    // the last block touched still holds unread elements.
    template <typename Out, typename Convert>
    std::size_t read(Out* out, std::size_t maxElements, bool& split, Convert convert) {
        std::size_t done = 0;
        split = false;
        while (done < maxElements && count_ != 0) {
            const std::size_t take = std::min(maxElements - done, blockElements_ - offset_);
            const std::int16_t* from = slot(head_) + offset_ * 2;
            for (std::size_t i = 0; i < take * 2; ++i) {
                out[done * 2 + i] = convert(from[i]);
            }
            done += take;
            offset_ += take;
            if (offset_ == blockElements_) {
                head_ = (head_ + 1) % capacity_;
                --count_;
                offset_ = 0;
            }
        }
        split = offset_ != 0;
        return done;
    }

    void clear() {
        head_ = 0;
        count_ = 0;
        offset_ = 0;
        overflow_ = false;
        nextNumber_ = 0;
    }

  private:
    std::int16_t* slot(std::size_t index) { return storage_.data() + index * blockElements_ * 2; }

    void dropOldest() {
        head_ = (head_ + 1) % capacity_;
        --count_;
        offset_ = 0;
        overflow_ = true;
        ++dropped_;
    }

    std::size_t capacity_;
    std::size_t blockElements_;
    std::vector<std::int16_t> storage_;
    std::vector<std::uint64_t> numbers_; // each slot's block number
    std::uint64_t nextNumber_ = 0;
    std::size_t head_ = 0;   // oldest block
    std::size_t count_ = 0;  // blocks buffered
    std::size_t offset_ = 0; // elements of the oldest block already read
    bool overflow_ = false;
    std::uint64_t dropped_ = 0;
};

} // namespace zef::soapy

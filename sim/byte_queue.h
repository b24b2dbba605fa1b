// A FIFO of bytes that appends and takes in bulk: the driver's receive queue.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zef::sim {

class ByteQueue {
  public:
    [[nodiscard]] std::size_t size() const { return bytes_.size() - head_; }

    void push(std::uint8_t byte) { bytes_.push_back(byte); }

    void append(const std::uint8_t* bytes, std::size_t n) {
        bytes_.insert(bytes_.end(), bytes, bytes + n);
    }

    // Moves up to n bytes to `out`; returns how many.
    std::size_t take(std::uint8_t* out, std::size_t n) {
        n = std::min(n, size());
        if (n > 0) {
            std::memcpy(out, bytes_.data() + head_, n);
        }
        head_ += n;
        if (head_ == bytes_.size()) {
            clear();
        } else if (head_ > kCompactAfter && head_ * 2 > bytes_.size()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        return n;
    }

    void clear() {
        bytes_.clear();
        head_ = 0;
    }

  private:
    static constexpr std::size_t kCompactAfter = 65536;
    std::vector<std::uint8_t> bytes_;
    std::size_t head_ = 0;
};

} // namespace zef::sim

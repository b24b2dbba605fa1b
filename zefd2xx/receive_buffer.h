// The bytes received from the bridge and not yet read: a fixed ring, filled
// by the reader thread and emptied by FT_Read, so nothing is allocated while
// the stream runs. Not thread-safe by itself: the receiver's lock guards it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zef::zefd2xx {

class ReceiveBuffer {
  public:
    explicit ReceiveBuffer(std::size_t capacity) : bytes_(capacity) {}

    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::size_t room() const { return bytes_.size() - size_; }

    // Takes at most room() bytes; returns how many it took.
    std::size_t put(const std::uint8_t* data, std::size_t n) {
        n = std::min(n, room());
        if (n == 0) {
            return 0; // a ring of no bytes has no position to start at
        }
        std::size_t at = (head_ + size_) % bytes_.size();
        for (std::size_t done = 0; done < n;) {
            const std::size_t chunk = std::min(n - done, bytes_.size() - at);
            std::memcpy(bytes_.data() + at, data + done, chunk);
            done += chunk;
            at = 0;
        }
        size_ += n;
        return n;
    }

    std::size_t take(std::uint8_t* out, std::size_t n) {
        n = std::min(n, size_);
        for (std::size_t done = 0; done < n;) {
            const std::size_t chunk = std::min(n - done, bytes_.size() - head_);
            std::memcpy(out + done, bytes_.data() + head_, chunk);
            done += chunk;
            head_ = (head_ + chunk) % bytes_.size();
        }
        size_ -= n;
        return n;
    }

    void clear() {
        head_ = 0;
        size_ = 0;
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

} // namespace zef::zefd2xx

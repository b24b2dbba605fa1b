#include "transmitter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zef::zefd2xx {

namespace {
constexpr auto kCancelWait = std::chrono::seconds(2);
} // namespace

Transmitter::~Transmitter() {
    cancelAll();
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < kTransfers; ++i) {
        if (!inFlight_[i]) { // one the kernel never gave back must outlive us
            libusb_free_transfer(transfers_[i]);
        }
    }
}

bool Transmitter::start() {
    for (std::size_t i = 0; i < kTransfers; ++i) {
        transfers_[i] = libusb_alloc_transfer(0);
        if (transfers_[i] == nullptr) {
            return false;
        }
        libusb_fill_bulk_transfer(transfers_[i], usb_, endpoint_, storage_[i].data(), 0,
                                  &Transmitter::onTransfer, this, 0);
    }
    return true;
}

void LIBUSB_CALL Transmitter::onTransfer(libusb_transfer* transfer) {
    static_cast<Transmitter*>(transfer->user_data)->completed(transfer);
}

// Runs on the receiver's event thread while the destructor may wait on
// another: the notice goes under the lock, so the condition outlives it.
void Transmitter::completed(libusb_transfer* transfer) {
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < kTransfers; ++i) {
        if (transfers_[i] == transfer) {
            inFlight_[i] = false;
        }
    }
    pending_.fetch_sub(static_cast<std::size_t>(transfer->length));
    if (transfer->status != LIBUSB_TRANSFER_COMPLETED &&
        transfer->status != LIBUSB_TRANSFER_CANCELLED) {
        failed_.store(true);
    }
    freed_.notify_all();
}

Transmitter::WriteEnd Transmitter::write(const std::uint8_t* bytes, std::size_t n,
                                         std::uint32_t timeoutMs, std::size_t& queued) {
    queued = 0;
    std::lock_guard order(writing_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (queued < n && !failed()) {
        libusb_transfer* transfer = nullptr;
        {
            std::unique_lock lock(lock_);
            const auto free = [this] { return closed_ || failed() || !inFlight_[next_]; };
            if (timeoutMs == 0) {
                freed_.wait(lock, free);
            } else if (!freed_.wait_until(lock, deadline, free)) {
                return WriteEnd::Done; // the time-out: FT_OK with what went
            }
            if (closed_) {
                return WriteEnd::Closed;
            }
            if (failed()) {
                break;
            }
            transfer = transfers_[next_];
            inFlight_[next_] = true;
            next_ = (next_ + 1) % kTransfers;
        }
        const std::size_t chunk = std::min(n - queued, kTransferBytes);
        std::memcpy(transfer->buffer, bytes + queued, chunk);
        transfer->length = static_cast<int>(chunk);
        pending_.fetch_add(chunk);
        if (libusb_submit_transfer(transfer) != 0) {
            std::lock_guard guard(lock_);
            for (std::size_t i = 0; i < kTransfers; ++i) {
                if (transfers_[i] == transfer) {
                    inFlight_[i] = false;
                }
            }
            pending_.fetch_sub(chunk);
            failed_.store(true);
            break;
        }
        queued += chunk;
    }
    return failed() ? WriteEnd::Failed : WriteEnd::Done;
}

void Transmitter::close() {
    {
        std::lock_guard guard(lock_);
        closed_ = true;
    }
    freed_.notify_all();
}

void Transmitter::cancelAll() {
    {
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < kTransfers; ++i) {
            if (inFlight_[i]) {
                libusb_cancel_transfer(transfers_[i]);
            }
        }
    }
    std::unique_lock lock(lock_);
    freed_.wait_for(lock, kCancelWait, [this] {
        return std::none_of(inFlight_.begin(), inFlight_.end(), [](bool flying) { return flying; });
    });
}

void Transmitter::purge() {
    std::lock_guard order(writing_);
    cancelAll();
}

} // namespace zef::zefd2xx

#include "receiver.h"

#include "zef/d2xx.h"

#include <algorithm>
#include <chrono>

namespace zef::zefd2xx {

namespace {

constexpr auto kStopWait = std::chrono::seconds(2);
constexpr long kEventSliceUs = 100000; // how soon the event thread notices a stop

} // namespace

Receiver::Receiver(libusb_context* context, libusb_device_handle* usb, unsigned char endpoint,
                   unsigned packetSize)
    : context_(context), usb_(usb), endpoint_(endpoint),
      packetSize_(packetSize > 2 ? packetSize : 64) {}

Receiver::~Receiver() {
    stop();
    for (libusb_transfer*& transfer : transfers_) {
        libusb_free_transfer(transfer); // null is allowed
        transfer = nullptr;
    }
}

bool Receiver::start() {
    for (std::size_t i = 0; i < kTransfers; ++i) {
        transfers_[i] = libusb_alloc_transfer(0);
        if (transfers_[i] == nullptr) {
            return false;
        }
        libusb_fill_bulk_transfer(transfers_[i], usb_, endpoint_, storage_[i].data(),
                                  kTransferBytes, &Receiver::onTransfer, this, 0);
    }
    running_.store(true);
    thread_ = std::thread(&Receiver::eventLoop, this);
    submitParked();
    return !gone();
}

// Raises `flag` (stopping_ or paused_), which keeps every transfer that
// comes back from going out again, and waits for those in flight.
void Receiver::land(bool& flag) {
    std::array<libusb_transfer*, kTransfers> flying{};
    {
        std::lock_guard lock(lock_);
        flag = true;
        for (std::size_t i = 0; i < kTransfers; ++i) {
            flying[i] = inFlight_[i] ? transfers_[i] : nullptr;
        }
    }
    for (libusb_transfer* transfer : flying) {
        if (transfer != nullptr) {
            libusb_cancel_transfer(transfer);
        }
    }
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, kStopWait, [this] { return flying_ == 0; });
}

void Receiver::stop() {
    if (!thread_.joinable()) {
        return;
    }
    land(stopping_);
    {
        std::lock_guard lock(lock_);
        if (flying_ != 0) {
            // A transfer the kernel never gave back must outlive us: leak it.
            for (std::size_t i = 0; i < kTransfers; ++i) {
                if (inFlight_[i]) {
                    transfers_[i] = nullptr;
                }
            }
        }
    }
    running_.store(false);
    libusb_interrupt_event_handler(context_);
    thread_.join();
}

void LIBUSB_CALL Receiver::onTransfer(libusb_transfer* transfer) {
    static_cast<Receiver*>(transfer->user_data)->completed(transfer);
}

// Room for what every transfer in flight may still bring, plus this one.
bool Receiver::wanted() const {
    const std::size_t perTransfer =
        static_cast<std::size_t>(kTransferBytes) / packetSize_ * (packetSize_ - 2);
    return !paused_ && !stopping_ && !gone() && buffer_.room() >= (flying_ + 1) * perTransfer;
}

void Receiver::completed(libusb_transfer* transfer) {
    std::size_t arrived = 0;
    {
        std::lock_guard lock(lock_);
        const auto length = static_cast<std::size_t>(std::max(transfer->actual_length, 0));
        for (std::size_t at = 0; at + 2 <= length; at += packetSize_) {
            const std::size_t end = std::min<std::size_t>(at + packetSize_, length);
            status_.store(transfer->buffer[at] | std::uint32_t{transfer->buffer[at + 1]} << 8U);
            arrived += buffer_.put(transfer->buffer + at + 2, end - at - 2);
        }
        for (std::size_t i = 0; i < kTransfers; ++i) {
            if (transfers_[i] == transfer) {
                inFlight_[i] = false;
            }
        }
        --flying_;
        switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            errors_ = 0;
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            break;
        case LIBUSB_TRANSFER_NO_DEVICE:
            gone_.store(true);
            break;
        default: // error, stall, overflow, time-out: a few in a row mean a dead link
            if (++errors_ >= kErrorsBeforeGone) {
                gone_.store(true);
            }
            break;
        }
    }
    changed_.notify_all();
    if (arrived > 0) {
        signalEvent();
    }
    submitParked();
}

void Receiver::submitParked() {
    std::array<libusb_transfer*, kTransfers> due{};
    {
        std::lock_guard lock(lock_);
        for (std::size_t i = 0; i < kTransfers && wanted(); ++i) {
            if (!inFlight_[i] && transfers_[i] != nullptr) {
                inFlight_[i] = true;
                ++flying_;
                due[i] = transfers_[i];
            }
        }
    }
    for (libusb_transfer* transfer : due) {
        if (transfer != nullptr) {
            submit(transfer);
        }
    }
}

void Receiver::submit(libusb_transfer* transfer) {
    const int result = libusb_submit_transfer(transfer);
    if (result == 0) {
        return;
    }
    {
        std::lock_guard lock(lock_);
        for (std::size_t i = 0; i < kTransfers; ++i) {
            if (transfers_[i] == transfer) {
                inFlight_[i] = false;
            }
        }
        --flying_;
        if (result == LIBUSB_ERROR_NO_DEVICE) {
            gone_.store(true);
        }
    }
    changed_.notify_all();
}

void Receiver::signalEvent() {
    if ((eventMask_.load() & d2xx::FT_EVENT_RXCHAR) == 0) {
        return;
    }
    auto* handle = static_cast<d2xx::EVENT_HANDLE*>(event_.load());
    if (handle == nullptr) {
        return;
    }
    pthread_mutex_lock(&handle->eMutex);
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
}

void Receiver::eventLoop() {
    while (running_.load()) {
        timeval slice{0, kEventSliceUs};
        libusb_handle_events_timeout_completed(context_, &slice, nullptr);
    }
}

bool Receiver::read(std::uint8_t* out, std::size_t n, std::uint32_t timeoutMs, std::size_t& got) {
    got = 0;
    {
        std::unique_lock lock(lock_);
        // The reader thread stops filling well before the ring is full.
        const std::size_t most =
            kBufferBytes - kTransfers * static_cast<std::size_t>(kTransferBytes);
        const std::size_t wait = std::min(n, most);
        const auto ready = [&] { return gone() || buffer_.size() >= wait; };
        if (timeoutMs == 0) {
            changed_.wait(lock, ready);
        } else {
            changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
        if (gone()) {
            return false;
        }
        got = buffer_.take(out, n);
    }
    submitParked();
    return true;
}

std::size_t Receiver::queued() {
    std::lock_guard lock(lock_);
    return buffer_.size();
}

void Receiver::purge() {
    {
        std::lock_guard lock(lock_);
        buffer_.clear();
    }
    submitParked();
}

void Receiver::pause() {
    land(paused_);
}

void Receiver::resume() {
    {
        std::lock_guard lock(lock_);
        paused_ = false;
    }
    submitParked();
}

void Receiver::setEvent(std::uint32_t mask, void* handle) {
    event_.store(handle);
    eventMask_.store(mask);
}

} // namespace zef::zefd2xx

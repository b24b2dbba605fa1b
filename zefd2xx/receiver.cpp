#include "receiver.h"

#include "bulk_in_packets.h"

#include "zef/d2xx.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace zef::zefd2xx {

namespace {

constexpr auto kStopWait = std::chrono::seconds(2);
constexpr std::uint64_t kEventSliceUs = 100000; // how soon the event thread notices a stop
constexpr std::uint64_t kFirstRetryUs = 1000;
constexpr std::uint64_t kLongestRetryUs = 100000;
// How long one try to signal waits for a host that holds its event's mutex.
constexpr long kSignalPatienceNs = 5000000;

std::uint64_t nowUs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

Receiver::Receiver(libusb_context* context, libusb_device_handle* usb, unsigned char endpoint,
                   unsigned packetSize)
    : context_(context), usb_(usb), endpoint_(endpoint), packetSize_(bulkInPacketSize(packetSize)) {
}

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
    notifier_ = std::thread(&Receiver::notifyLoop, this);
    pthread_setname_np(thread_.native_handle(), "zefd2xx-usb");
    pthread_setname_np(notifier_.native_handle(), "zefd2xx-event");
    submitParked();
    return !gone();
}

// Raises `flag`, which keeps every transfer that comes back from going out
// again, and waits for those in flight.
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
        notifierStop_ = true;
    }
    owedChanged_.notify_all();
    notifier_.join();
    running_.store(false);
    libusb_interrupt_event_handler(context_);
    thread_.join();
}

void LIBUSB_CALL Receiver::onTransfer(libusb_transfer* transfer) {
    static_cast<Receiver*>(transfer->user_data)->completed(transfer);
}

// Room for what every transfer in flight may still bring, plus this one.
bool Receiver::wanted() const {
    const std::size_t perTransfer = mostPayload(kTransferBytes, packetSize_);
    return !paused_ && !purging_ && !stopping_ && !gone() &&
           buffer_.room() >= (flying_ + 1) * perTransfer;
}

void Receiver::completed(libusb_transfer* transfer) {
    std::size_t arrived = 0;
    {
        std::lock_guard lock(lock_);
        const UnpackedTransfer unpacked = unpackBulkIn(
            {transfer->buffer, static_cast<std::size_t>(std::max(transfer->length, 0))},
            transfer->actual_length, packetSize_, buffer_, !purging_);
        if (unpacked.status) {
            status_.store(*unpacked.status);
        }
        arrived = unpacked.kept; // wanted() kept room for all of it: nothing is lost but to a purge
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
        if (arrived > 0) {
            ++owed_;
        }
    }
    changed_.notify_all();
    if (arrived > 0) {
        owedChanged_.notify_one();
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
    {
        std::lock_guard lock(lock_);
        if (result == 0) {
            failingSinceUs_ = 0;
            retryGapUs_ = 0;
            return;
        }
        for (std::size_t i = 0; i < kTransfers; ++i) {
            if (transfers_[i] == transfer) {
                inFlight_[i] = false;
            }
        }
        --flying_;
        submitFailed(result);
    }
    changed_.notify_all();
}

// "No device" is an unplug. Anything else (an I/O error from a failing hub,
// usbfs out of memory) is tried again later by the event thread, until the
// stream has had nothing in flight for kRestartLimitUs.
void Receiver::submitFailed(int result) {
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        gone_.store(true);
        return;
    }
    const std::uint64_t now = nowUs();
    if (flying_ == 0 && failingSinceUs_ == 0) {
        failingSinceUs_ = now;
    }
    if (failingSinceUs_ != 0 && now - failingSinceUs_ >= kRestartLimitUs) {
        givenUp_.store(true);
        return;
    }
    if (retryAtUs_ == 0) {
        retryGapUs_ = std::clamp(retryGapUs_ * 2, kFirstRetryUs, kLongestRetryUs);
        retryAtUs_ = now + retryGapUs_;
    }
}

void Receiver::eventLoop() {
    while (running_.load()) {
        std::uint64_t sliceUs = kEventSliceUs;
        {
            std::lock_guard lock(lock_);
            if (retryAtUs_ != 0) {
                const std::uint64_t now = nowUs();
                sliceUs = retryAtUs_ > now ? std::min(sliceUs, retryAtUs_ - now) : 0;
            }
        }
        timeval slice{0, static_cast<long>(sliceUs)};
        libusb_handle_events_timeout_completed(context_, &slice, nullptr);
        bool retry = false;
        {
            std::lock_guard lock(lock_);
            if (retryAtUs_ != 0 && nowUs() >= retryAtUs_) {
                retryAtUs_ = 0;
                retry = true;
            }
        }
        if (retry) {
            submitParked();
            std::lock_guard lock(lock_);
            if (retryAtUs_ == 0) {
                failingSinceUs_ = 0; // nothing was wanted (a full buffer, a pause): no failure
            }
        }
    }
}

void Receiver::notifyLoop() {
    std::unique_lock lock(lock_);
    for (;;) {
        owedChanged_.wait(lock, [this] { return owed_ > 0 || notifierStop_; });
        if (notifierStop_) {
            return;
        }
        --owed_;
        lock.unlock();
        signalEvent();
        lock.lock();
    }
}

// One signal, as a waiter expects it: under the host's mutex. A host that
// holds it is waited for a few milliseconds at a time, letting a new
// registration (or a close) through in between.
void Receiver::signalEvent() {
    std::unique_lock fence(eventLock_);
    for (;;) {
        auto* handle = static_cast<d2xx::EVENT_HANDLE*>(event_);
        if (handle == nullptr || (eventMask_ & d2xx::FT_EVENT_RXCHAR) == 0) {
            return;
        }
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += kSignalPatienceNs;
        until.tv_sec += until.tv_nsec / 1000000000L;
        until.tv_nsec %= 1000000000L;
        if (pthread_mutex_timedlock(&handle->eMutex, &until) == 0) {
            pthread_cond_signal(&handle->eCondVar);
            pthread_mutex_unlock(&handle->eMutex);
            return;
        }
        fence.unlock();
        {
            std::unique_lock lock(lock_);
            if (owedChanged_.wait_for(lock, std::chrono::milliseconds(1),
                                      [this] { return notifierStop_; })) {
                return;
            }
        }
        fence.lock();
    }
}

Receiver::ReadEnd Receiver::read(std::uint8_t* out, std::size_t n, std::uint32_t timeoutMs,
                                 std::size_t& got) {
    got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(lock_);
    for (;;) {
        const std::size_t taken = buffer_.take(out + got, n - got);
        got += taken;
        if (taken > 0) {
            lock.unlock();
            submitParked(); // the room just made may take transfers again
            lock.lock();
        }
        if (got == n) {
            return ReadEnd::Done;
        }
        if (closed_) {
            return ReadEnd::Closed;
        }
        if (gone()) {
            return ReadEnd::Gone;
        }
        const auto ready = [&] { return closed_ || gone() || buffer_.size() > 0; };
        if (timeoutMs == 0) {
            changed_.wait(lock, ready);
        } else if (!changed_.wait_until(lock, deadline, ready)) {
            return ReadEnd::Done; // the time-out: what came
        }
    }
}

std::size_t Receiver::queued() {
    std::lock_guard lock(lock_);
    return buffer_.size();
}

void Receiver::beginPurge() {
    land(purging_);
}

void Receiver::endPurge() {
    {
        std::lock_guard lock(lock_);
        buffer_.clear();
        purging_ = false;
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
    std::lock_guard fence(eventLock_);
    event_ = handle;
    eventMask_ = mask;
}

void Receiver::close() {
    {
        std::lock_guard lock(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

} // namespace zef::zefd2xx

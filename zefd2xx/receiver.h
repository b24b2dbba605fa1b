// The receive side of one open bridge: a thread of its own runs libusb's
// events and keeps bulk-IN transfers in flight; each completed transfer has
// the two status bytes of every packet stripped and its data put in the
// receive buffer. A second thread signals the registered event, once for
// each transfer that brought data, as FTDI's Linux driver does: it takes the
// host's mutex, which the host may hold across its own driver calls, so
// libusb's events never wait for it. The transfers and the buffer are made
// at open, so the stream allocates nothing.
//
// As FTDI describes its driver (AN232B-03), a transfer is asked for only
// while the buffer has room for all it may bring; a full buffer loses
// nothing, and the bridge holds or loses what follows. A transfer that
// cannot be submitted is tried again, less often each time; when none has
// been in flight for a while despite that, the stream is given up, and every
// call reports FT_IO_ERROR as after an unplug.
#pragma once

#include "receive_buffer.h"

#include <libusb.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zef::zefd2xx {

class Receiver {
  public:
    static constexpr std::size_t kBufferBytes = std::size_t{256} << 10U;
    // A stream with no transfer in flight and none submitted for this long is given up.
    static constexpr std::uint64_t kRestartLimitUs = 1000000;

    Receiver(libusb_context* context, libusb_device_handle* usb, unsigned char endpoint,
             unsigned packetSize);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // False when the transfers could not be made or the first submission failed.
    bool start();
    void stop();

    enum class ReadEnd { Done, Gone, Closed };
    // Up to `n` bytes, waiting for all `n` at most `timeoutMs` (0: without a
    // limit); `got` is what was read, however it ended.
    ReadEnd read(std::uint8_t* out, std::size_t n, std::uint32_t timeoutMs, std::size_t& got);
    std::size_t queued();
    // A purge, around the chip's own: no byte of a transfer in flight before
    // it reaches the buffer after it.
    void beginPurge();
    void endPurge();
    // Stops taking bytes from the bridge and returns when no transfer is in
    // flight any more; what those brought is kept.
    void pause();
    void resume();
    // Returns when no signal of the event it replaces is under way.
    void setEvent(std::uint32_t mask, void* handle);
    // The handle is closing: a read waiting returns Closed, and none waits again.
    void close();

    [[nodiscard]] bool gone() const { return gone_.load() || givenUp_.load(); }
    // Modem status of the last packet in the low byte, line status above.
    [[nodiscard]] std::uint32_t lastStatus() const { return status_.load(); }

  private:
    // Enough in flight for the event thread to be late by 100 ms at full
    // speed before the bridge's own buffer overruns.
    static constexpr std::size_t kTransfers = 8;
    static constexpr int kTransferBytes = 4096;
    static constexpr int kErrorsBeforeGone = 8;

    static void LIBUSB_CALL onTransfer(libusb_transfer* transfer);
    void completed(libusb_transfer* transfer);
    [[nodiscard]] bool wanted() const; // under lock_
    void submitParked();
    void submit(libusb_transfer* transfer);
    void submitFailed(int result); // under lock_
    void eventLoop();
    void notifyLoop();
    void signalEvent();
    void land(bool& flag);

    libusb_context* context_;
    libusb_device_handle* usb_;
    unsigned char endpoint_;
    unsigned packetSize_;
    std::array<libusb_transfer*, kTransfers> transfers_{};
    std::array<std::array<std::uint8_t, kTransferBytes>, kTransfers> storage_{};

    std::mutex lock_;
    std::condition_variable changed_;
    ReceiveBuffer buffer_{kBufferBytes};
    std::array<bool, kTransfers> inFlight_{}; // under lock_
    std::size_t flying_ = 0;                  // under lock_
    bool paused_ = false;                     // under lock_
    bool purging_ = false;                    // under lock_: bytes that come back are dropped
    bool stopping_ = false;                   // under lock_
    bool closed_ = false;                     // under lock_
    std::uint64_t retryAtUs_ = 0;             // under lock_: 0, or when to submit again
    std::uint64_t retryGapUs_ = 0;            // under lock_
    std::uint64_t failingSinceUs_ = 0;        // under lock_: nothing in flight and submits failing
    int errors_ = 0;                          // event thread only

    std::condition_variable owedChanged_;
    std::size_t owed_ = 0;        // under lock_: signals the notifier has yet to give
    bool notifierStop_ = false;   // under lock_
    std::mutex eventLock_;        // held while the host's event is touched
    std::uint32_t eventMask_ = 0; // under eventLock_
    void* event_ = nullptr;       // under eventLock_

    std::atomic<bool> gone_{false};
    std::atomic<bool> givenUp_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::uint32_t> status_{0};
    std::thread thread_;
    std::thread notifier_;
};

} // namespace zef::zefd2xx

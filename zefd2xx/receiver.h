// The receive side of one open bridge: a thread of its own runs libusb's
// events and keeps bulk-IN transfers in flight; each completed transfer has
// the two status bytes of every packet stripped, its data put in the receive
// buffer, and, when it carried data, the registered event signalled once, as
// FTDI's Linux driver does. The transfers and the buffer are made at open,
// so the stream allocates nothing.
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
    Receiver(libusb_context* context, libusb_device_handle* usb, unsigned char endpoint,
             unsigned packetSize);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // False when the transfers could not be made or the first submission failed.
    bool start();
    void stop();

    // Up to `n` bytes; waits for all `n` at most `timeoutMs` (0: without a
    // limit). False once the device is gone.
    bool read(std::uint8_t* out, std::size_t n, std::uint32_t timeoutMs, std::size_t& got);
    std::size_t queued();
    void purge();
    // Stops taking bytes from the bridge (they wait in its buffer) and
    // returns when no transfer is in flight any more.
    void pause();
    void resume();
    void setEvent(std::uint32_t mask, void* handle);

    [[nodiscard]] bool gone() const { return gone_.load(); }
    // Modem status of the last packet in the low byte, line status above.
    [[nodiscard]] std::uint32_t lastStatus() const { return status_.load(); }

  private:
    static constexpr std::size_t kTransfers = 4;
    static constexpr int kTransferBytes = 4096;
    static constexpr std::size_t kBufferBytes = std::size_t{256} << 10U;
    static constexpr int kErrorsBeforeGone = 8;

    static void LIBUSB_CALL onTransfer(libusb_transfer* transfer);
    void completed(libusb_transfer* transfer);
    [[nodiscard]] bool wanted() const; // under lock_
    void submitParked();
    void submit(libusb_transfer* transfer);
    void signalEvent();
    void eventLoop();
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
    bool stopping_ = false;                   // under lock_
    int errors_ = 0;                          // event thread only

    std::atomic<bool> gone_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::uint32_t> status_{0};
    std::atomic<std::uint32_t> eventMask_{0};
    std::atomic<void*> event_{nullptr};
    std::thread thread_;
};

} // namespace zef::zefd2xx

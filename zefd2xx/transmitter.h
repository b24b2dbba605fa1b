// The transmit side of one open bridge: FT_Write copies into one of a few
// bulk-OUT transfers made at open and returns once they are queued, as
// FTDI's driver does; what the bridge has not taken yet is the transmit
// queue that FT_GetStatus reports. Completions run on the receiver's event
// thread, which handles every event of the port's libusb context.
#pragma once

#include <libusb.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zef::zefd2xx {

class Transmitter {
  public:
    Transmitter(libusb_device_handle* usb, unsigned char endpoint)
        : usb_(usb), endpoint_(endpoint) {}
    ~Transmitter();
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;

    bool start();
    enum class WriteEnd { Done, Failed, Closed };
    // Queues as much of `n` bytes as room allows within `timeoutMs` (0:
    // without a limit). Failed once the device is gone or a transfer failed.
    WriteEnd write(const std::uint8_t* bytes, std::size_t n, std::uint32_t timeoutMs,
                   std::size_t& queued);
    // The handle is closing: a write waiting for room returns Closed.
    void close();
    // Bytes queued that the bridge has not taken yet.
    [[nodiscard]] std::size_t pending() const { return pending_.load(); }
    // Drops what the bridge has not taken yet.
    void purge();

    [[nodiscard]] bool failed() const { return failed_.load(); }

  private:
    static constexpr std::size_t kTransfers = 4;
    static constexpr std::size_t kTransferBytes = 16384;

    static void LIBUSB_CALL onTransfer(libusb_transfer* transfer);
    void completed(libusb_transfer* transfer);
    void cancelAll(); // waits until none is in flight

    libusb_device_handle* usb_;
    unsigned char endpoint_;
    std::array<libusb_transfer*, kTransfers> transfers_{};
    std::array<std::array<std::uint8_t, kTransferBytes>, kTransfers> storage_{};

    std::mutex writing_; // one FT_Write at a time, so writes keep their order
    std::mutex lock_;
    std::condition_variable freed_;
    std::array<bool, kTransfers> inFlight_{}; // under lock_
    std::size_t next_ = 0;                    // under lock_: transfers go out in turn
    bool closed_ = false;                     // under lock_
    std::atomic<std::size_t> pending_{0};
    std::atomic<bool> failed_{false};
};

} // namespace zef::zefd2xx

// One open bridge: libftdi's context for the vendor requests of the port
// set-up, libusb's bulk transfers for the data, and the receiver. Every call
// after the device went away returns FT_IO_ERROR, as FTDI's driver does.
#pragma once

#include "receiver.h"
#include "transmitter.h"

#include "zef/d2xx.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct ftdi_context;

namespace zef::zefd2xx {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

class Port {
  public:
    // FT_DEVICE_NOT_FOUND when no bridge is at `location`, FT_DEVICE_NOT_OPENED
    // when it cannot be had (another program holds it, or no permission).
    static FT_STATUS open(std::uint32_t location, std::unique_ptr<Port>& port);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    FT_STATUS read(void* buffer, DWORD size, DWORD* got);
    FT_STATUS write(const void* buffer, DWORD size, DWORD* written);
    FT_STATUS queueStatus(DWORD* rxBytes);
    FT_STATUS status(DWORD* rxBytes, DWORD* txBytes, DWORD* events);
    FT_STATUS resetDevice();
    FT_STATUS setBaudRate(ULONG baud);
    FT_STATUS setDataCharacteristics(UCHAR bits, UCHAR stop, UCHAR parity);
    FT_STATUS modemStatus(ULONG* status);
    FT_STATUS setFlowControl(USHORT mode, UCHAR xon, UCHAR xoff);
    FT_STATUS setRts();
    FT_STATUS setChars(UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn);
    FT_STATUS setTimeouts(ULONG readMs, ULONG writeMs);
    FT_STATUS setLatencyTimer(UCHAR milliseconds);
    FT_STATUS setBitMode(UCHAR mask, UCHAR mode);
    FT_STATUS purge(ULONG mask);
    FT_STATUS stopInTask();
    FT_STATUS restartInTask();
    FT_STATUS setEventNotification(DWORD mask, void* param);
    FT_STATUS cyclePort();
    // FT_Close, first step: a read or write waiting returns FT_INVALID_HANDLE
    // at once. The interface is released when the port is destroyed.
    void close();

  private:
    explicit Port(ftdi_context* ftdi);
    [[nodiscard]] bool gone() const {
        return gone_.load() || receiver_->gone() || transmitter_->failed();
    }
    // The status of a failed request: FT_IO_ERROR, and the handle dead for
    // good, when the device has gone; `otherwise` while it is there.
    FT_STATUS failed(FT_STATUS otherwise);
    template <typename Request> FT_STATUS request(Request request, FT_STATUS otherwise);

    ftdi_context* ftdi_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<Transmitter> transmitter_;
    std::mutex control_; // libftdi's context is not thread-safe
    std::atomic<bool> gone_{false};
    std::atomic<std::uint32_t> readTimeoutMs_{0};
    std::atomic<std::uint32_t> writeTimeoutMs_{0};
};

} // namespace zef::zefd2xx

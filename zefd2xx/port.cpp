#include "port.h"

#include "device_list.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>

namespace zef::zefd2xx {

namespace {

constexpr unsigned kProbeTimeoutMs = 200;
constexpr std::uint8_t kVendorIn = 0xC0; // FTDI_DEVICE_IN_REQTYPE, which mixes enumerations

} // namespace

FT_STATUS Port::open(std::uint32_t location, std::unique_ptr<Port>& port) {
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        return FT_INSUFFICIENT_RESOURCES;
    }
    ftdi_device_list* found = nullptr;
    int opened = 1; // nothing at that location
    for (const FoundBridge& bridge : findBridges(ftdi, found)) {
        if (bridge.listed.location == location) {
            // Detaches the kernel's ftdi_sio, claims the channel's interface, resets.
            opened = ftdi_set_interface(
                ftdi, static_cast<ftdi_interface>(INTERFACE_A + bridge.interface));
            if (opened == 0) {
                opened = ftdi_usb_open_dev(ftdi, bridge.device);
            }
            break;
        }
    }
    ftdi_list_free(&found);
    if (opened != 0) {
        ftdi_free(ftdi);
        return opened > 0 ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
    }
    port.reset(new Port(ftdi));
    if (!port->transmitter_->start() || !port->receiver_->start()) {
        port.reset();
        return FT_DEVICE_NOT_OPENED;
    }
    return FT_OK;
}

// libftdi names the endpoints from the chip's side: it reads from out_ep.
Port::Port(ftdi_context* ftdi)
    : ftdi_(ftdi), receiver_(std::make_unique<Receiver>(ftdi->usb_ctx, ftdi->usb_dev,
                                                        static_cast<unsigned char>(ftdi->out_ep),
                                                        ftdi->max_packet_size)),
      transmitter_(
          std::make_unique<Transmitter>(ftdi->usb_dev, static_cast<unsigned char>(ftdi->in_ep))) {}

// The transfers go before the libusb context that libftdi frees.
Port::~Port() {
    transmitter_.reset(); // its completions need the receiver's event thread
    receiver_.reset();
    ftdi_usb_close(ftdi_);
    ftdi_free(ftdi_);
}

FT_STATUS Port::failed(FT_STATUS otherwise) {
    if (!gone_.load()) {
        unsigned char answer[2];
        const int probe = libusb_control_transfer(
            ftdi_->usb_dev, kVendorIn, SIO_POLL_MODEM_STATUS_REQUEST, 0,
            static_cast<std::uint16_t>(ftdi_->index), answer, sizeof answer, kProbeTimeoutMs);
        if (probe == LIBUSB_ERROR_NO_DEVICE) {
            gone_.store(true);
        }
    }
    return gone() ? FT_IO_ERROR : otherwise;
}

template <typename Request> FT_STATUS Port::request(Request request, FT_STATUS otherwise) {
    if (gone()) {
        return FT_IO_ERROR;
    }
    std::lock_guard guard(control_);
    return request(ftdi_) >= 0 ? FT_OK : failed(otherwise);
}

FT_STATUS Port::read(void* buffer, DWORD size, DWORD* got) {
    if (got == nullptr || (buffer == nullptr && size > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *got = 0;
    std::size_t taken = 0;
    const Receiver::ReadEnd end =
        receiver_->read(static_cast<std::uint8_t*>(buffer), size, readTimeoutMs_.load(), taken);
    *got = static_cast<DWORD>(taken);
    if (end == Receiver::ReadEnd::Closed) {
        return FT_INVALID_HANDLE;
    }
    return end == Receiver::ReadEnd::Gone || gone() ? FT_IO_ERROR : FT_OK;
}

// Returns once the bytes are queued for the bridge, or the write time-out
// ran out (FT_OK with the count queued, as FTDI's driver does).
FT_STATUS Port::write(const void* buffer, DWORD size, DWORD* written) {
    if (written == nullptr || (buffer == nullptr && size > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *written = 0;
    if (gone()) {
        return FT_IO_ERROR;
    }
    std::size_t queued = 0;
    const Transmitter::WriteEnd end = transmitter_->write(static_cast<const std::uint8_t*>(buffer),
                                                          size, writeTimeoutMs_.load(), queued);
    *written = static_cast<DWORD>(queued);
    if (end == Transmitter::WriteEnd::Closed) {
        return FT_INVALID_HANDLE;
    }
    return end == Transmitter::WriteEnd::Done && !gone() ? FT_OK : failed(FT_IO_ERROR);
}

void Port::close() {
    receiver_->close();
    transmitter_->close();
}

FT_STATUS Port::queueStatus(DWORD* rxBytes) {
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (gone()) {
        return FT_IO_ERROR;
    }
    *rxBytes = static_cast<DWORD>(receiver_->queued());
    return FT_OK;
}

FT_STATUS Port::status(DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    if (rxBytes == nullptr || txBytes == nullptr || events == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (gone()) {
        return FT_IO_ERROR;
    }
    *rxBytes = static_cast<DWORD>(receiver_->queued());
    *txBytes = static_cast<DWORD>(transmitter_->pending());
    *events = *rxBytes > 0 ? FT_EVENT_RXCHAR : 0;
    return FT_OK;
}

FT_STATUS Port::resetDevice() {
    return request([](ftdi_context* ftdi) { return ftdi_usb_reset(ftdi); }, FT_IO_ERROR);
}

FT_STATUS Port::setBaudRate(ULONG baud) {
    if (baud == 0 || baud > 12000000) {
        return gone() ? FT_IO_ERROR : FT_INVALID_BAUD_RATE;
    }
    return request(
        [baud](ftdi_context* ftdi) { return ftdi_set_baudrate(ftdi, static_cast<int>(baud)); },
        FT_INVALID_BAUD_RATE);
}

FT_STATUS Port::setDataCharacteristics(UCHAR bits, UCHAR stop, UCHAR parity) {
    // D2XX and libftdi number them alike: 7 or 8 bits, stop 0 (1) or 2, parity 0-4.
    if ((bits != 7 && bits != 8) || (stop != 0 && stop != 2) || parity > 4) {
        return gone() ? FT_IO_ERROR : FT_INVALID_PARAMETER;
    }
    return request(
        [=](ftdi_context* ftdi) {
            return ftdi_set_line_property(ftdi, static_cast<ftdi_bits_type>(bits),
                                          static_cast<ftdi_stopbits_type>(stop),
                                          static_cast<ftdi_parity_type>(parity));
        },
        FT_IO_ERROR);
}

FT_STATUS Port::modemStatus(ULONG* status) {
    if (status == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    unsigned short polled = 0;
    const FT_STATUS result =
        request([&polled](ftdi_context* ftdi) { return ftdi_poll_modem_status(ftdi, &polled); },
                FT_IO_ERROR);
    if (result == FT_OK) {
        *status = polled; // modem status in the low byte, line status above, as D2XX has it
    }
    return result;
}

FT_STATUS Port::setFlowControl(USHORT mode, UCHAR xon, UCHAR xoff) {
    // D2XX's modes are the bridge's own request values.
    if (mode != SIO_DISABLE_FLOW_CTRL && mode != SIO_RTS_CTS_HS && mode != SIO_DTR_DSR_HS &&
        mode != SIO_XON_XOFF_HS) {
        return gone() ? FT_IO_ERROR : FT_INVALID_PARAMETER;
    }
    return request(
        [=](ftdi_context* ftdi) {
            return mode == SIO_XON_XOFF_HS ? ftdi_setflowctrl_xonxoff(ftdi, xon, xoff)
                                           : ftdi_setflowctrl(ftdi, mode);
        },
        FT_IO_ERROR);
}

FT_STATUS Port::setRts() {
    return request([](ftdi_context* ftdi) { return ftdi_setrts(ftdi, 1); }, FT_IO_ERROR);
}

FT_STATUS Port::setChars(UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn) {
    return request(
        [=](ftdi_context* ftdi) {
            const int first = ftdi_set_event_char(ftdi, event, eventOn);
            return first < 0 ? first : ftdi_set_error_char(ftdi, error, errorOn);
        },
        FT_IO_ERROR);
}

FT_STATUS Port::setTimeouts(ULONG readMs, ULONG writeMs) {
    if (gone()) {
        return FT_IO_ERROR;
    }
    readTimeoutMs_.store(readMs);
    writeTimeoutMs_.store(writeMs);
    return FT_OK;
}

FT_STATUS Port::setLatencyTimer(UCHAR milliseconds) {
    if (milliseconds == 0) {
        return gone() ? FT_IO_ERROR : FT_INVALID_PARAMETER;
    }
    return request(
        [milliseconds](ftdi_context* ftdi) { return ftdi_set_latency_timer(ftdi, milliseconds); },
        FT_IO_ERROR);
}

FT_STATUS Port::setBitMode(UCHAR mask, UCHAR mode) {
    return request([=](ftdi_context* ftdi) { return ftdi_set_bitmode(ftdi, mask, mode); },
                   FT_INVALID_PARAMETER);
}

// libftdi 1.5 found the bridge's own purge values the other way round from
// their names: tciflush empties what waits for the host.
FT_STATUS Port::purge(ULONG mask) {
    if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) {
        return gone() ? FT_IO_ERROR : FT_INVALID_PARAMETER;
    }
    if ((mask & FT_PURGE_RX) != 0) {
        // No transfer is in flight while the chip empties its buffer, and
        // what those in flight brought goes too.
        receiver_->beginPurge();
        const FT_STATUS chip =
            request([](ftdi_context* ftdi) { return ftdi_tciflush(ftdi); }, FT_IO_ERROR);
        receiver_->endPurge();
        if (chip != FT_OK) {
            return chip;
        }
    }
    if ((mask & FT_PURGE_TX) != 0) {
        transmitter_->purge();
        return request([](ftdi_context* ftdi) { return ftdi_tcoflush(ftdi); }, FT_IO_ERROR);
    }
    return gone() ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Port::stopInTask() {
    if (gone()) {
        return FT_IO_ERROR;
    }
    receiver_->pause();
    return gone() ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Port::restartInTask() {
    if (gone()) {
        return FT_IO_ERROR;
    }
    receiver_->resume();
    return FT_OK;
}

FT_STATUS Port::setEventNotification(DWORD mask, void* param) {
    if (gone()) {
        return FT_IO_ERROR;
    }
    receiver_->setEvent(mask, param);
    return FT_OK;
}

// The bridge leaves the bus and comes back as a new device: this handle is
// done, as with FTDI's driver, and the device must be opened again.
FT_STATUS Port::cyclePort() {
    if (gone()) {
        return FT_IO_ERROR;
    }
    std::lock_guard guard(control_);
    const int result = libusb_reset_device(ftdi_->usb_dev);
    gone_.store(true);
    return result == 0 || result == LIBUSB_ERROR_NOT_FOUND ? FT_OK : FT_IO_ERROR;
}

} // namespace zef::zefd2xx

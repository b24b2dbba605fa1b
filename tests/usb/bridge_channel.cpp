#include "bridge_channel.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zef::usbtest {

namespace {

// FTDI's requests (libftdi's ftdi.h and Linux's ftdi_sio.h name them).
enum : std::uint8_t {
    kReset = 0x00,
    kSetModemControl = 0x01,
    kSetFlowControl = 0x02,
    kSetBaudRate = 0x03,
    kSetData = 0x04,
    kPollModemStatus = 0x05,
    kSetEventChar = 0x06,
    kSetErrorChar = 0x07,
    kSetLatency = 0x09,
    kGetLatency = 0x0A,
    kSetBitMode = 0x0B,
    kReadPins = 0x0C,
};
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr std::uint32_t kBaseClock = 3000000;
constexpr std::uint32_t kHighClock = 12000000; // the H parts' 120 MHz, divided by 10
constexpr std::uint64_t kTxBufferBytes = 128;

// The divisor: 14 bits of integer part and a three-bit eighth code in value
// bits 14-15 and bit 16 of the whole; 0 and 1 stand for the base clock and
// two thirds of it. The FT232R takes bit 16 from index bit 0; the H parts,
// whose index low byte names the channel, from index bit 8, and their bit
// 9 switches to the 12 MHz clock.
std::uint32_t decodeBaud(std::uint16_t value, std::uint16_t index, bool highSpeed) {
    static constexpr std::array<std::uint32_t, 8> kEighths = {0, 4, 2, 1, 3, 5, 6, 7};
    const std::uint32_t high = highSpeed ? (index >> 8U) & 1U : index & 1U;
    const std::uint32_t base = highSpeed && (index & 0x0200U) != 0 ? kHighClock : kBaseClock;
    const std::uint32_t whole = value & 0x3FFFU;
    const std::uint32_t code = (value >> 14U) | (high << 2U);
    if (code == 0 && whole <= 1) {
        return whole == 0 ? base : base * 2U / 3U;
    }
    return base * 8U / (whole * 8U + kEighths[code]);
}

std::vector<std::uint8_t> stringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text.size()),
                                  kStringDescriptor};
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

} // namespace

BridgeChannel::BridgeChannel(const BridgeModel& model, std::string product, std::string serial,
                             std::uint64_t nowUs)
    : model_(model), product_(std::move(product)), serial_(std::move(serial)) {
    env_.timing = ZEFSIM_REALTIME;
    env_.signal.kind = ZEFSIM_SIGNAL;
    env_.signal.carrierHz = 1000.0;
    env_.signal.amplitude = 8000.0;
    env_.signal.followsLo = true;
    instrument_.attach(nowUs);
    usb_.setPacketSize(model.bus->packetBytes);
    usb_.restart(nowUs);
    usb_.setAsking(false, nowUs);
}

int BridgeChannel::standard(const ControlSetup& setup, std::uint8_t* data) {
    if (setup.request != kGetDescriptor || (setup.value >> 8U) != kStringDescriptor) {
        return -1;
    }
    std::vector<std::uint8_t> answer;
    switch (setup.value & 0xFFU) {
    case 0:
        answer = {4, kStringDescriptor, 0x09, 0x04}; // English (US)
        break;
    case 1:
        answer = stringDescriptor("FTDI");
        break;
    case 2:
        answer = stringDescriptor(product_);
        break;
    case 3:
        answer = stringDescriptor(serial_);
        break;
    default:
        return -1;
    }
    const std::size_t n = std::min<std::size_t>(answer.size(), setup.length);
    std::memcpy(data, answer.data(), n);
    return static_cast<int>(n);
}

void BridgeChannel::vendor(const ControlSetup& setup, std::uint64_t nowUs) {
    switch (setup.request) {
    case kReset:
        if (setup.value == 0 || setup.value == 2) { // reset, or (libftdi's tciflush) the IN side
            usb_.restart(nowUs);
        }
        break;
    case kSetBaudRate:
        usb_.setBaudRate(decodeBaud(setup.value, setup.index, model_.bus->packetBytes > 64), nowUs);
        break;
    case kSetLatency:
        usb_.setLatencyTimer(std::max<std::uint32_t>(setup.value & 0xFFU, 1), nowUs);
        break;
    case kSetBitMode:
        lines_.setBitMode(instrument_, env_, static_cast<std::uint8_t>(setup.value & 0xFFU),
                          static_cast<std::uint8_t>(setup.value >> 8U));
        usb_.hold(lines_.bitBang, nowUs);
        break;
    default: // modem and flow control, data format, event and error characters
        break;
    }
}

int BridgeChannel::control(const ControlSetup& setup, std::uint8_t* data, std::uint64_t nowUs) {
    if ((setup.requestType & 0x60U) != 0x40U) {
        return standard(setup, data);
    }
    wire_.vendorRequests.push_back(setup);
    if ((setup.requestType & 0x80U) == 0) {
        vendor(setup, nowUs);
        return 0;
    }
    switch (setup.request) {
    case kPollModemStatus:
        if (setup.length < 2) {
            return -1;
        }
        data[0] = usb_.modemStatus();
        data[1] = sim::kLineStatusIdle;
        return 2;
    case kGetLatency:
        data[0] = static_cast<std::uint8_t>(usb_.latencyMs());
        return setup.length > 0 ? 1 : -1;
    case kReadPins:
        data[0] = 0xFF;
        return setup.length > 0 ? 1 : -1;
    default:
        return -1;
    }
}

std::uint64_t BridgeChannel::bulkOut(const std::uint8_t* bytes, std::size_t n,
                                     std::uint64_t nowUs) {
    (lines_.bitBang ? wire_.bitBang : wire_.uart)
        .insert(lines_.bitBang ? wire_.bitBang.end() : wire_.uart.end(), bytes, bytes + n);
    lines_.write(instrument_, env_, bytes, n, nowUs);
    // A bit-bang byte takes one baud period, a UART byte ten; neither goes
    // faster than the bus brings them.
    const std::uint64_t perSecond = sim::pacedBytesPerSecond(
        *model_.bus, lines_.bitBang ? usb_.baudRate() : usb_.baudRate() / sim::kBitsPerByte);
    txBusyUntilUs_ = std::max(txBusyUntilUs_, nowUs) + n * 1000000U / perSecond;
    const std::uint64_t buffered = kTxBufferBytes * 1000000U / perSecond;
    return txBusyUntilUs_ > nowUs + buffered ? txBusyUntilUs_ - buffered : nowUs;
}

void BridgeChannel::hostAsking(bool asking, std::uint64_t nowUs) {
    if (asking != usb_.asking()) {
        usb_.setAsking(asking, nowUs);
    }
}

void BridgeChannel::idle(std::uint64_t nowUs) {
    sim::InPacket packet;
    usb_.next(instrument_, env_, nowUs, packet);
}

bool BridgeChannel::fillIn(std::uint8_t* buffer, std::size_t capacity, std::size_t& length,
                           std::uint64_t nowUs) {
    sim::InPacket packet;
    while (length + usb_.packetSize() <= capacity) {
        if (!usb_.next(instrument_, env_, nowUs, packet)) {
            return false;
        }
        std::memcpy(buffer + length, packet.bytes.data(), packet.size);
        length += packet.size;
        if (packet.size < usb_.packetSize()) {
            break;
        }
    }
    ++wire_.inTransfers;
    for (std::size_t at = 0; at < length; at += usb_.packetSize()) {
        if (std::min(usb_.packetSize(), length - at) > sim::kPacketStatusBytes) {
            ++wire_.inTransfersWithData;
            break;
        }
    }
    return true;
}

} // namespace zef::usbtest

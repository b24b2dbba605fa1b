#include "bridge_model.h"

namespace zef::usbtest {

namespace {

std::uint8_t lo(std::size_t value) {
    return static_cast<std::uint8_t>(value & 0xFFU);
}

std::uint8_t hi(std::size_t value) {
    return static_cast<std::uint8_t>((value >> 8U) & 0xFFU);
}

} // namespace

std::vector<std::uint8_t> descriptorsOf(const BridgeModel& model) {
    const std::size_t packet = model.bus->packetBytes;
    const std::size_t total = 9 + model.channels * (9 + 7 + 7);
    std::vector<std::uint8_t> d = {
        18,
        1,
        0x00,
        0x02,
        0,
        0,
        0,
        64,
        0x03,
        0x04,
        lo(model.productId),
        hi(model.productId),
        lo(model.bcdDevice),
        hi(model.bcdDevice),
        1,
        2,
        3,
        1, // device
        9,
        2,
        lo(total),
        hi(total),
        static_cast<std::uint8_t>(model.channels),
        1,
        0,
        0xA0,
        45, // configuration
    };
    for (std::size_t channel = 0; channel < model.channels; ++channel) {
        const auto in = static_cast<std::uint8_t>(0x81U + 2U * channel);
        const auto out = static_cast<std::uint8_t>(0x02U + 2U * channel);
        const std::vector<std::uint8_t> interface = {
            9,    4,          static_cast<std::uint8_t>(channel),
            0,    2,          0xFF,
            0xFF, 0xFF,       2, // interface
            7,    5,          in,
            2,    lo(packet), hi(packet),
            0, // bulk IN
            7,    5,          out,
            2,    lo(packet), hi(packet),
            0, // bulk OUT
        };
        d.insert(d.end(), interface.begin(), interface.end());
    }
    return d;
}

std::vector<std::uint8_t> hubDescriptors() {
    return {
        18, 1, 0x00, 0x02, 9, 0, 1,  64,   0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01, 0, 0, 0, 1, // device
        9,  2, 25,   0,    1, 1, 0,  0xE0, 0,                                              // config
        9,  4, 0,    0,    1, 9, 0,  0,    0, // interface
        7,  5, 0x81, 3,    4, 0, 12,          // interrupt
    };
}

} // namespace zef::usbtest

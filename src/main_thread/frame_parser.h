// The receive stream's frame parser, free of the driver: bytes in, DeviceState
// and the host's callback out. A frame is a sync run of the cycle AA 0F 55 (24
// bytes or more), a 00 terminator, a type byte (5A: status, anything else:
// samples), the body and a CRC-16/MODBUS over type, body and CRC that comes to
// 0 when the frame is good.
#pragma once

#include "platform/platform.h"
#include "usb_func/device_session.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zef {

enum class ParserPhase : std::uint8_t {
    OutsideFrame = 0,
    TypeByte = 1,
    StatusFrame = 2,
    SampleFrame = 3,
};

// Kept between passes, so a frame may span any number of them.
struct ParserState {
    static constexpr std::uint32_t kSyncRunMinimum = 24;
    static constexpr std::uint8_t kStatusType = 0x5A;
    static constexpr std::uint32_t kStatusBodySize = 160;
    static constexpr std::uint32_t kSampleBodySize = 2048;

    ParserPhase phase = ParserPhase::OutsideFrame;
    std::uint16_t crc = 0;
    std::uint32_t count = 0;     // body bytes seen, then the two CRC bytes
    std::uint32_t runLength = 0; // length of the current run of the sync cycle
    std::uint8_t previousByte = 0;
    std::uint32_t sampleCapacity = 0;
    // The device session the bytes come from; kNoLink when fed by hand.
    LinkSession session = kNoLink;
    std::array<std::uint8_t, kStatusBodySize> statusBody{};
    // Handed to the host, valid until its callback returns.
    std::array<std::uint8_t, kSampleBodySize> sampleBody{};
};

// The plug-in's one parser; zero at load, used by the worker alone.
extern ParserState parserState;

// Runs every byte through the parser in order: a good status frame updates
// deviceModel and the calibration blocks and reports its state code to the
// parser's session (deviceReady, settingsAcked); a good
// sample frame goes to the host's callback (512, 0, 0.0, sampleBody) while
// callbackSet and streaming are raised. Returns before the next byte once the
// worker is asked to terminate. Never allocates.
void parseBytes(ParserState& parser, std::span<const std::uint8_t> bytes,
                const platform::Thread& worker);

// The plain byte-at-a-time form that parseBytes must always agree with.
void parseBytesReference(ParserState& parser, std::span<const std::uint8_t> bytes,
                         const platform::Thread& worker);

} // namespace zef

#include "settings_frame.h"

#include "crc16.h"
#include "plugin/device_state.h"
#include "sent_settings.h"
#include "stream_parser.h"
#include "usb_func/device_link.h"
#include "usb_func/driver_table.h"

#include <cassert>
#include <initializer_list>

namespace zef {

namespace {

constexpr std::int32_t kTwoPointArgument = 32768;
constexpr std::int32_t kThreePointArgument = 0;
constexpr double kFivePointArgument = 0.0;
constexpr std::size_t kCrcOffset = kSettingsFrameSize - 2;

// Fills a frame from byte 1 on, in offset order, little-endian.
class FrameWriter {
  public:
    explicit FrameWriter(SettingsFrame& frame) : frame_(frame) {}

    void byte(std::uint8_t value) { frame_[next_++] = value; }
    void bytes(std::initializer_list<std::uint8_t> values) {
        for (const std::uint8_t value : values) {
            byte(value);
        }
    }
    void zeros(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            byte(0);
        }
    }
    void le16(std::uint16_t value) {
        byte(static_cast<std::uint8_t>(value & 0xFFU));
        byte(static_cast<std::uint8_t>(value >> 8U));
    }
    void le32(std::uint32_t value) {
        le16(static_cast<std::uint16_t>(value & 0xFFFFU));
        le16(static_cast<std::uint16_t>(value >> 16U));
    }
    [[nodiscard]] std::size_t filled() const { return next_ - 1; }
    [[nodiscard]] std::size_t position() const { return next_; } // frame offset of the next byte

  private:
    SettingsFrame& frame_;
    std::size_t next_ = 1;
};

std::uint32_t low32(std::int64_t word) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(word) & 0xFFFFFFFFU);
}

std::uint8_t flagsByte(const SettingsInputs& inputs) {
    unsigned flags = 0;
    if (inputs.deviceModel == kDeviceModel53) {
        flags |= 0x08U;
    }
    if (!inputs.bridgeLibrary) {
        flags |= 0x80U;
    }
    return static_cast<std::uint8_t>(flags);
}

std::uint16_t twoPointField(const SettingsInputs& inputs) {
    if (inputs.deviceModel == kDeviceModel53) {
        return 0;
    }
    const auto code =
        static_cast<std::uint32_t>(twoPointCode(inputs.calibration, kTwoPointArgument));
    return static_cast<std::uint16_t>(code & 0xFFFFU);
}

SettingsInputs currentInputs() {
    SettingsInputs inputs;
    {
        platform::LockGuard guard(deviceState.tuningLock);
        inputs.loWord = deviceState.loWord.load();
        inputs.tuneFrequency = deviceState.tuneFrequency.load();
        inputs.modeCode = deviceState.modeCode.load();
        inputs.tuneWord = deviceState.tuneWord.load();
    }
    inputs.deviceModel = deviceState.deviceModel.load();
    inputs.bridgeLibrary = deviceState.bridgeLibrary.load();
    inputs.calibration.calibrationA = deviceState.calibrationA;
    inputs.calibration.calibrationB = deviceState.calibrationB;
    return inputs;
}

// One FT_Write to the device the frame was started for; the count written is
// not examined. A kept status is stored in the same hold of the driver lock
// as the write, so a stale one never overwrites the result of a newer open.
FT_STATUS writeToDevice(LinkSession link, const std::uint8_t* bytes, std::size_t size,
                        bool keepStatus) {
    return onLink(link, [&](FT_HANDLE handle) {
        DWORD written = 0;
        const FT_STATUS status = FT_Write(handle, bytes, static_cast<DWORD>(size), &written);
        if (keepStatus) {
            deviceState.driverStatus.store(static_cast<std::int32_t>(status));
        }
        return status;
    });
}

} // namespace

SettingsFrame buildSettingsFrame(const SettingsInputs& inputs) {
    SettingsFrame frame{};
    FrameWriter out(frame);
    out.bytes({0x03, 0x10, 0x00, 0xFF});
    out.zeros(8);
    out.le32(low32(inputs.loWord));
    out.le32(static_cast<std::uint32_t>(inputs.tuneFrequency));
    out.bytes({0x1F, 0x40, 0xFF});
    out.byte(flagsByte(inputs));
    out.bytes({0x00, 0x01, 0x00});
    assert(out.position() == kTwoPointCodeAt);
    out.le16(twoPointField(inputs));
    out.zeros(3);
    out.bytes({0x20, 0x00, 0x20});
    assert(out.position() == kThreePointCodeAt);
    out.le16(threePointCode(inputs.calibration, kThreePointArgument));
    assert(out.position() == kFivePointCodeAt);
    out.le16(fivePointCode(inputs.calibration, kFivePointArgument));
    assert(out.position() == kCalibrationBytesAt);
    for (const std::uint8_t byte : passThroughBytes(inputs.calibration)) {
        out.byte(byte);
    }
    out.bytes({0xC3, 0x80, 0x05, 0x70, 0xFF});
    out.byte(inputs.modeCode);
    out.le32(low32(inputs.tuneWord));
    frame[0] = static_cast<std::uint8_t>(out.filled());
    crc16::seal(frame.data(), kCrcOffset);
    return frame;
}

void sendSettingsFrame(const platform::Thread& worker) {
    const LinkSession link = currentLink();
    // A lost preamble costs only the acknowledgement, so its status is not kept.
    writeToDevice(link, kSettingsPreamble.data(), kSettingsPreamble.size(), false);
    const SettingsFrame frame = buildSettingsFrame(currentInputs());
    if (writeToDevice(link, frame.data(), frame.size(), true) == FT_OK) {
        noteSettingsSent(frame);
    }
    if (link != currentLink() || loadPending()) {
        return; // closed, replaced or not configured: nothing will answer
    }
    // Only after the write, so an acknowledgement already queued in the
    // driver also ends the wait.
    expectAcknowledgement();
    // A terminate request or a reopen also ends the wait, so neither sits
    // out the remaining sleeps.
    awaitAcknowledgement([&worker] { parserPass(worker); },
                         [&worker, link] {
                             return deviceState.settingsAcked.load() ||
                                    worker.terminateRequested() || link != currentLink();
                         },
                         platform::sleepMs);
}

} // namespace zef

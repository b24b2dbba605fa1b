// Fuzzes both ends of the settings frame: the simulator's decoder on
// arbitrary bytes, and the plug-in's builder on arbitrary inputs, whose frame
// the decoder must read back field for field.
#include "main_thread/settings_frame.h"
#include "sim/settings_decoder.h"

#include <cstdlib>
#include <cstring>

namespace {

template <typename T> T take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Decoder: a frame it accepts has the length byte and a zero CRC.
    const auto decoded = zef::sim::decodeSettings({data, size});
    if (decoded) {
        check(size == 65 && data[0] == 0x3E && zef::crc16::compute({data, size}) == 0);
    }

    // Builder: whatever the inputs, the frame decodes to them.
    zef::SettingsInputs in;
    in.loWord = take<std::int64_t>(data, size);
    in.tuneFrequency = take<std::int32_t>(data, size);
    in.modeCode = take<std::uint8_t>(data, size);
    in.tuneWord = take<std::int64_t>(data, size);
    in.deviceModel = take<std::uint16_t>(data, size);
    in.bridgeLibrary = (take<std::uint8_t>(data, size) & 1U) != 0;
    in.calibration.calibrationA = take<zef::CalibrationBlock>(data, size);
    in.calibration.calibrationB = take<zef::CalibrationBlock>(data, size);
    const zef::SettingsFrame frame = zef::buildSettingsFrame(in);
    const auto back = zef::sim::decodeSettings(frame);
    check(back.has_value() && back->fixedBytesMatch);
    check(back->loWord == static_cast<std::uint32_t>(in.loWord));
    check(back->tuneFrequency == in.tuneFrequency);
    check(back->mode == in.modeCode);
    check(back->tuneWord == static_cast<std::uint32_t>(in.tuneWord));
    const bool model53 = in.deviceModel == zef::kDeviceModel53;
    check(back->flags == ((model53 ? 0x08 : 0) | (in.bridgeLibrary ? 0 : 0x80)));
    check(!model53 || back->twoPointCode == 0);
    check(back->threePointCode == zef::threePointCode(in.calibration, 0));
    check(back->fivePointCode == zef::fivePointCode(in.calibration, 0.0));
    return 0;
}

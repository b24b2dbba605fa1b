// A model of FTDI's D2XX driver for the contract suite: a D2XX library loaded
// by path, and the device behind it, which the suite can look at from the
// device's side. Every model carries the simulated ZEF418 (its gateware
// streams numbered sample frames once loaded and started), either inside
// the simulated driver or behind an emulated USB bridge.
#pragma once

#include "zef/d2xx.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zef::contract {

using namespace d2xx; // NOLINT(google-build-using-namespace): D2XX names read as in FTDI's API

// The entry points, typed as FTDI declares them. The bridge library has no
// FT_SetEventNotification, FT_GetStatus or FT_GetModemStatus: null there.
struct D2xx {
    FT_STATUS (*CreateDeviceInfoList)(DWORD*) = nullptr;
    FT_STATUS (*ListDevices)(void*, void*, DWORD) = nullptr;
    FT_STATUS (*OpenEx)(void*, DWORD, FT_HANDLE*) = nullptr;
    FT_STATUS (*Close)(FT_HANDLE) = nullptr;
    FT_STATUS (*Read)(FT_HANDLE, void*, DWORD, DWORD*) = nullptr;
    FT_STATUS (*Write)(FT_HANDLE, void*, DWORD, DWORD*) = nullptr;
    FT_STATUS (*GetQueueStatus)(FT_HANDLE, DWORD*) = nullptr;
    FT_STATUS (*SetBaudRate)(FT_HANDLE, ULONG) = nullptr;
    FT_STATUS (*SetTimeouts)(FT_HANDLE, ULONG, ULONG) = nullptr;
    FT_STATUS (*SetLatencyTimer)(FT_HANDLE, UCHAR) = nullptr;
    FT_STATUS (*SetBitMode)(FT_HANDLE, UCHAR, UCHAR) = nullptr;
    FT_STATUS (*Purge)(FT_HANDLE, ULONG) = nullptr;
    FT_STATUS (*StopInTask)(FT_HANDLE) = nullptr;
    FT_STATUS (*RestartInTask)(FT_HANDLE) = nullptr;
    FT_STATUS (*SetEventNotification)(FT_HANDLE, DWORD, void*) = nullptr;
    FT_STATUS (*GetStatus)(FT_HANDLE, DWORD*, DWORD*, DWORD*) = nullptr;
};

// What the device saw, counted on its side.
struct DeviceCounts {
    std::uint64_t lineBytes = 0;         // the gateware's bytes through the line
    std::uint64_t sampleFramesSent = 0;  // sample frames whose last byte crossed the line
    std::uint64_t lostFrames = 0;        // sample frames the gateware dropped, its FIFO full
    std::uint64_t transfersWithData = 0; // IN transfers that completed with data
    std::uint64_t bitBangBytes = 0;      // bytes that reached the pins in bit-bang mode
};

class Model {
  public:
    virtual ~Model() = default;

    // Loads the library and sets up the device side; false, with the reason,
    // when the model cannot run here.
    virtual bool start(std::string& why) = 0;
    [[nodiscard]] const D2xx& d2xx() const { return d2xx_; }

    // The description the instrument is listed under.
    [[nodiscard]] virtual std::string description() const = 0;
    // Whether the device list comes from USB (bus paths, chips with channels).
    [[nodiscard]] virtual bool onUsb() const = 0;
    [[nodiscard]] virtual DeviceCounts counts() = 0;
    // Whether the instrument's interface is held by an open handle.
    [[nodiscard]] virtual bool held() = 0;
    // Bulk bytes a second the bus carries for the bridge.
    [[nodiscard]] virtual std::uint64_t busBytesPerSecond() const = 0;
    // Bytes the driver's receive buffer holds at most (an upper bound).
    [[nodiscard]] virtual std::size_t receiveCapacity() const = 0;
    // Plugs another bridge (USB models only): a chip of `channels` channels
    // on `bus` at the end of `ports`.
    virtual void plugOther(std::uint8_t /*bus*/, const std::vector<std::uint8_t>& /*ports*/,
                           const std::string& /*product*/, std::size_t /*channels*/) {}
    // Whether some interface of the other bridge plugged `index`-th is held.
    [[nodiscard]] virtual bool otherHeld(std::size_t /*index*/, unsigned /*interface*/) {
        return false;
    }
    // Bytes the other bridge's channel received on its UART.
    [[nodiscard]] virtual std::size_t otherUartBytes(std::size_t /*index*/,
                                                     std::size_t /*channel*/) {
        return 0;
    }

  protected:
    D2xx d2xx_;
};

// "sim_plain", "sim_bridge", "zefd2xx_ft232r", "zefd2xx_ft2232h",
// "ftd2xx_ft232r", "ftd2xx_ft2232h".
std::unique_ptr<Model> makeModel(const std::string& name);

} // namespace zef::contract

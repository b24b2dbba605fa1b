#include "fpga_loader.h"

#include "bitbang_expansion.h"
#include "gateware_progress.h"
#include "plugin/device_state.h"
#include "stream_parser.h"
#include "usb_func/device_link.h"
#include "usb_func/driver_table.h"

#include <algorithm>
#include <array>
#include <span>

namespace zef {

namespace {

constexpr std::array<std::uint8_t, 3> kStartCommand = {0xA5, 0x00, 0x00};
constexpr std::uint8_t kTrailerHigh = kBitBangOutputs;           // 85: clock high, data 1
constexpr std::uint8_t kTrailerLow = kProgramLine | kConfigData; // 81: clock low, data 1

// The one buffer of the whole load: program pulse, chunks, trailer, start
// command. Only the worker loads.
alignas(64) std::array<std::uint8_t, kBitBangChunkBytes> workBuffer;
// The device the load started on: once it is closed or replaced, the rest of
// the load goes nowhere and the load is abandoned.
LinkSession loadLink = kNoLink;

// A failure's status is stored while the driver lock still holds the handle
// it was made on, so that it cannot overwrite the result of a newer open.
FT_STATUS write(std::span<const std::uint8_t> bytes, DWORD* written) {
    return onLink(loadLink, [&](FT_HANDLE handle) {
        FT_STATUS status =
            FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), written);
        if (status == FT_OK && *written == 0) {
            status = FT_IO_ERROR; // would repeat forever on a dead link
        }
        if (status != FT_OK) {
            deviceState.driverStatus.store(static_cast<std::int32_t>(status));
        }
        return status;
    });
}

// Every write of the load goes out whole, each further write starting at the
// first byte the driver did not accept: a device that missed its program
// pulse, trailer or start command stays without gateware while the link looks
// fine. A failure ends the load with its status in driverStatus, so the next
// StartHW reopens.
bool sendWhole(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (write(bytes, &written) != FT_OK) {
            return false;
        }
        bytes = bytes.subspan(std::min<std::size_t>(written, bytes.size()));
    }
    return true;
}

bool sendByte(std::uint8_t byte) {
    workBuffer[0] = byte;
    return sendWhole({workBuffer.data(), 1});
}

void setBitMode(UCHAR mode) {
    onLink(loadLink,
           [mode](FT_HANDLE handle) { return FT_SetBitMode(handle, kBitBangOutputs, mode); });
}

// False when the load was abandoned. The terminate request is tested per
// chunk, so shutdown never waits for the rest of a 5 MB stream.
bool sendImage(const platform::Thread& worker, FpgaImage image) {
    const std::span<const std::uint8_t> bytes = image.span();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kImageChunkBytes) {
        if (worker.terminateRequested()) {
            return false;
        }
        const auto chunk = bytes.subspan(offset, std::min(kImageChunkBytes, bytes.size() - offset));
        expandImageBytes(chunk, workBuffer.data());
        if (!sendWhole({workBuffer.data(), chunk.size() * kBitBangBytesPerImageByte})) {
            return false;
        }
    }
    return true;
}

bool sendTrailer() {
    for (std::size_t pair = 0; pair < kTrailerPairs; ++pair) {
        workBuffer[2 * pair] = kTrailerHigh;
        workBuffer[2 * pair + 1] = kTrailerLow;
    }
    return sendWhole({workBuffer.data(), 2 * kTrailerPairs});
}

// Lets the bit-bang bytes leave before the port changes mode. The bridge
// library has no FT_GetStatus, so it gets a fixed pause.
void drain(const platform::Thread& worker, const FpgaLoaderWaits& waits) {
    if (deviceState.bridgeLibrary.load()) {
        waits.sleepMs(kBridgeDrainMs);
        return;
    }
    const std::uint64_t deadline =
        platform::nowMicroseconds() + std::uint64_t{kPlainDrainLimitMs} * 1000U;
    for (;;) {
        DWORD received = 0;
        DWORD queued = 0;
        DWORD events = 0;
        const FT_STATUS status = onLink(loadLink, [&](FT_HANDLE handle) {
            return FT_GetStatus(handle, &received, &queued, &events);
        });
        if (status != FT_OK || queued == 0 || worker.terminateRequested() ||
            platform::nowMicroseconds() >= deadline) {
            return;
        }
    }
}

// Bytes that arrived during the load are noise from the bit-bang lines.
void discardReceived() {
    onLink(loadLink, [](FT_HANDLE handle) {
        FT_StopInTask(handle);
        FT_Purge(handle, FT_PURGE_RX);
        return FT_RestartInTask(handle);
    });
}

bool sendStartCommand() {
    std::copy(kStartCommand.begin(), kStartCommand.end(), workBuffer.begin());
    return sendWhole({workBuffer.data(), kStartCommand.size()});
}

// Leaves the port usable for whatever comes next.
bool abandon() {
    setBitMode(FT_BITMODE_RESET);
    return false;
}

// False when the wait ended on a terminate request.
bool waitUntilReady(const platform::Thread& worker, const FpgaLoaderWaits& waits) {
    for (int pass = 0; pass < kReadyWaitPasses; ++pass) {
        waits.parserPass(worker);
        if (deviceState.deviceReady.load()) {
            break;
        }
        if (worker.terminateRequested()) {
            return false;
        }
        if (loadLink != currentLink()) {
            break; // reopened: the next pass loads the new device
        }
        waits.sleepMs(kReadyWaitPauseMs);
    }
    return true;
}

} // namespace

bool ConfigureFpga(const platform::Thread& worker, FpgaImage image, FpgaLoaderWaits waits) {
    loadLink = currentLink();
    if (loadLink == kNoLink) {
        return false; // closed again before the worker came to it
    }
    setBitMode(FT_BITMODE_ASYNC_BITBANG);
    if (!sendByte(0x00)) {
        return abandon();
    }
    waits.sleepMs(kProgramPulseMs);
    if (!sendByte(kProgramLine)) {
        return abandon();
    }
    waits.sleepMs(kProgramReleaseMs);
    if (!sendImage(worker, image) || !sendTrailer()) {
        return abandon();
    }
    drain(worker, waits);
    setBitMode(FT_BITMODE_RESET);
    discardReceived();
    if (!sendStartCommand()) {
        return false;
    }
    noteGatewareImageSent();

    // A device that never reports ready still gets its settings sent.
    if (waitUntilReady(worker, waits)) {
        deviceState.settingsChanged.store(true);
    }
    return true;
}

bool ConfigureFpga(const platform::Thread& worker) {
    noteGatewareLoadBegins();
    const bool loaded = ConfigureFpga(worker, fpgaImage(), {parserPass, platform::sleepMs});
    noteGatewareLoadEnds(loaded, deviceState.deviceReady.load());
    return loaded;
}

} // namespace zef

// Traffic on an open port: reads, writes (through the write faults), the
// bit-bang switch and the receive-side controls.
#include "sim/port_call.h"
#include "sim/simulated_driver.h"
#include "sim/wire.h"

#include <algorithm>
#include <cstdint>

namespace zef::sim::driver {

namespace {

// Real time: bit-bang bytes leave at one per baud period of 3 MBd, and a
// write returns once all but the bridge's transmit buffer has gone.
constexpr std::uint64_t kBitBangBytesPerSecond = 3000000;
constexpr std::uint64_t kTxBufferBytes = 4096;

std::uint64_t bitBangMicroseconds(std::uint64_t bytes) {
    return bytes * 1000000U / kBitBangBytesPerSecond;
}

DWORD clampToDword(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, UINT32_MAX));
}

void sleepUntil(std::uint64_t timeUs) {
    while (platform::nowMicroseconds() < timeUs) {
        platform::sleepMs(1);
    }
}

// Under the lock: what the device does with bytes that the bridge accepted.
// Returns when the write may return (real-time pacing), or 0.
std::uint64_t send(SimState& state, Port& port, const std::uint8_t* bytes, DWORD n) {
    const std::uint64_t now = platform::nowMicroseconds();
    port.lines.write(port.device->instrument, state.env, bytes, n, now);
    if (!port.lines.bitBang) {
        pump(state.env, port, now); // in fast timing an answer is readable at once
        return 0;
    }
    if (state.env.timing != ZEFSIM_REALTIME) {
        return 0;
    }
    port.txBusyUntilUs = std::max(port.txBusyUntilUs, now) + bitBangMicroseconds(n);
    const std::uint64_t buffered = bitBangMicroseconds(kTxBufferBytes);
    return port.txBusyUntilUs > now + buffered ? port.txBusyUntilUs - buffered : 0;
}

} // namespace

// Real time: asked for more than is queued, it waits for more up to the read
// time-out, then returns what it has, as FTDI's driver does.
FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    std::uint64_t deadlineUs = 0;
    bool valid = false;
    bool wait = false;
    FT_STATUS status = FT_OK;
    do {
        if (wait) {
            platform::sleepMs(1);
        }
        status = onPort(handle, nullptr, [&](SimState& state, Port& port) -> FT_STATUS {
            if (got == nullptr || (buffer == nullptr && size > 0)) {
                return FT_INVALID_PARAMETER;
            }
            const std::uint64_t now = platform::nowMicroseconds();
            if (!valid) {
                valid = true;
                deadlineUs = now + std::uint64_t{port.readTimeoutMs} * 1000U;
            }
            pump(state.env, port, now);
            done += port.rx.take(out + done, size - done);
            wait = done < size && state.env.timing == ZEFSIM_REALTIME && now < deadlineUs;
            return FT_OK;
        });
    } while (status == FT_OK && wait);
    if (valid) {
        *got = clampToDword(done);
    }
    return status;
}

FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD size, DWORD* written) {
    std::uint64_t returnAtUs = 0;
    const FT_STATUS status = onPort(handle, nullptr, [&](SimState& state, Port& port) -> FT_STATUS {
        if (written == nullptr || (buffer == nullptr && size > 0)) {
            return FT_INVALID_PARAMETER;
        }
        *written = 0;
        Faults& faults = state.env.faults;
        if (faults.failWrites > 0) {
            --faults.failWrites;
            return FT_IO_ERROR;
        }
        if (faults.zeroWrites > 0) {
            --faults.zeroWrites;
            return FT_OK;
        }
        const DWORD accepted = faults.writeLimit > 0 ? std::min(size, faults.writeLimit) : size;
        returnAtUs = send(state, port, static_cast<const std::uint8_t*>(buffer), accepted);
        *written = accepted;
        return FT_OK;
    });
    sleepUntil(returnAtUs);
    return status;
}

FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return onPort(handle, nullptr, [rxBytes](SimState& state, Port& port) -> FT_STATUS {
        if (rxBytes == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        pump(state.env, port, platform::nowMicroseconds());
        *rxBytes = clampToDword(port.rx.size());
        return FT_OK;
    });
}

FT_STATUS getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    const CallLine line = callLine("FT_GetStatus");
    return onPort(handle, &line, [&](SimState& state, Port& port) -> FT_STATUS {
        if (rxBytes == nullptr || txBytes == nullptr || events == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        const std::uint64_t now = platform::nowMicroseconds();
        pump(state.env, port, now);
        const std::uint64_t busyUs = port.txBusyUntilUs > now ? port.txBusyUntilUs - now : 0;
        *rxBytes = clampToDword(port.rx.size());
        *txBytes = clampToDword(
            static_cast<std::size_t>((busyUs * kBitBangBytesPerSecond + 999999U) / 1000000U));
        *events = port.rx.size() > 0 ? FT_EVENT_RXCHAR : 0;
        return FT_OK;
    });
}

FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    const CallLine line = callLine("FT_SetBitMode 0x%02X %u", unsigned{mask}, unsigned{mode});
    return onPort(handle, &line, [mask, mode](SimState& state, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state.env, port, now);
        port.lines.setBitMode(port.device->instrument, state.env, mask, mode);
        updateReceiveHold(port, now);
        return FT_OK;
    });
}

FT_STATUS purge(FT_HANDLE handle, ULONG mask) {
    const CallLine line = callLine("FT_Purge 0x%02X", mask);
    return onPort(handle, &line, [mask](SimState& state, Port& port) -> FT_STATUS {
        if ((mask & FT_PURGE_RX) != 0) {
            const std::uint64_t now = platform::nowMicroseconds();
            catchUp(state.env, port, now);
            port.rx.clear();
            restartReceive(port, now); // the bridge's buffer and the transfer go too
        }
        if ((mask & FT_PURGE_TX) != 0) {
            port.txBusyUntilUs = 0;
        }
        return FT_OK;
    });
}

FT_STATUS stopInTask(FT_HANDLE handle) {
    const CallLine line = callLine("FT_StopInTask");
    return onPort(handle, &line, [](SimState& state, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state.env, port, now);
        port.inTaskStopped = true;
        updateReceiveHold(port, now);
        return FT_OK;
    });
}

FT_STATUS restartInTask(FT_HANDLE handle) {
    const CallLine line = callLine("FT_RestartInTask");
    return onPort(handle, &line, [](SimState&, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        port.inTaskStopped = false;
        updateReceiveHold(port, now);
        return FT_OK;
    });
}

FT_STATUS setEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    const CallLine line = callLine("FT_SetEventNotification 0x%02X", mask);
    return onPort(handle, &line, [mask, param](SimState&, Port& port) -> FT_STATUS {
        port.eventMask = mask;
        port.event = param;
        return FT_OK;
    });
}

} // namespace zef::sim::driver

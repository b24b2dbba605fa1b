// Traffic on an open port: reads, writes (through the write faults), the
// bit-bang switch and the receive-side controls. A call that waits (FT_Read
// for its bytes, FT_Write for the bus and the pins) sleeps on the
// simulator's condition until something is due, and ends early when its
// handle is closed or its cable pulled.
#include "sim/port_call.h"
#include "sim/simulated_driver.h"
#include "sim/wire.h"

#include <algorithm>
#include <cstdint>

namespace zef::sim::driver {

namespace {

// Real time: bit-bang bytes leave at one per baud period, but no faster
// than the bus carries them, and a write returns once all but the driver's
// transmit buffer has gone.
constexpr std::uint64_t kTxBufferBytes = 4096;
// A wait re-checks at least this often, and never spins faster.
constexpr std::uint64_t kMinWaitUs = 100;
constexpr std::uint64_t kMaxWaitUs = 100000;

std::uint64_t bitBangBytesPerSecond(const Port& port) {
    return pacedBytesPerSecond(port.bridge.bus(), port.bridge.baudRate());
}

std::uint64_t microsecondsFor(std::uint64_t bytes, std::uint64_t perSecond) {
    return (bytes * 1000000U + perSecond - 1) / perSecond;
}

DWORD clampToDword(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, UINT32_MAX));
}

void waitUntil(SimState& state, std::uint64_t nowUs, std::uint64_t wakeUs) {
    const std::uint64_t sleep = wakeUs > nowUs ? wakeUs - nowUs : 0;
    state.changed.waitFor(state.lock, std::clamp(sleep, kMinWaitUs, kMaxWaitUs));
}

// After a wait: the status that ends the call when its handle closed or
// its cable was pulled meanwhile, else FT_OK.
FT_STATUS stillOpen(SimState& state, std::uint64_t token, Port*& port) {
    port = portOf(state, token);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    return port->dead() ? FT_IO_ERROR : FT_OK;
}

// Under the lock: what the device does with bytes that the bridge accepted.
// Returns when the write may return (real-time pacing), or 0.
std::uint64_t send(SimState& state, Port& port, const std::uint8_t* bytes, DWORD n) {
    const std::uint64_t now = platform::nowMicroseconds();
    port.lines.write(port.device->instrument, state.env, bytes, n, now);
    state.changed.notifyAll(); // a start command changes what is due
    if (!port.lines.bitBang) {
        pump(state, port, now); // in fast timing an answer is readable at once
        return 0;
    }
    if (state.env.timing != ZEFSIM_REALTIME) {
        return 0;
    }
    const std::uint64_t rate = bitBangBytesPerSecond(port);
    port.txBusyUntilUs = std::max(port.txBusyUntilUs, now) + microsecondsFor(n, rate);
    const std::uint64_t buffered = microsecondsFor(kTxBufferBytes, rate);
    return port.txBusyUntilUs > now + buffered ? port.txBusyUntilUs - buffered : 0;
}

} // namespace

// Real time: asked for more than is queued, it waits for the rest up to the
// read time-out (with none set, or 0, until all of it came), then returns
// what it has, as FTDI's driver does. Closed meanwhile: FT_INVALID_HANDLE
// with what it had read.
FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD size, DWORD* got) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    return onPort(handle, nullptr, [&](SimState& state, Port& first) -> FT_STATUS {
        if (got == nullptr || (buffer == nullptr && size > 0)) {
            return FT_INVALID_PARAMETER;
        }
        const std::uint64_t token = first.token;
        const std::uint64_t start = platform::nowMicroseconds();
        const std::uint64_t deadline = first.readTimeoutMs == kNoReadTimeout
                                           ? UINT64_MAX
                                           : start + std::uint64_t{first.readTimeoutMs} * 1000U;
        std::size_t done = 0;
        Port* port = &first;
        FT_STATUS status = FT_OK;
        for (;;) {
            const std::uint64_t now = platform::nowMicroseconds();
            pump(state, *port, now);
            const std::size_t taken = port->rx.take(out + done, size - done);
            done += taken;
            if (taken > 0) {
                pump(state, *port, now); // the room made may take a transfer again
            }
            if (done == size || state.env.timing != ZEFSIM_REALTIME || now >= deadline) {
                break;
            }
            waitUntil(state, now, std::min(deadline, quietUntilUs(state.env, *port, now)));
            status = stillOpen(state, token, port);
            if (status != FT_OK) {
                break;
            }
        }
        *got = clampToDword(done);
        return status;
    });
}

FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD size, DWORD* written) {
    return onPort(handle, nullptr, [&](SimState& state, Port& port) -> FT_STATUS {
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
        const std::uint64_t token = port.token;
        const std::uint64_t returnAtUs =
            send(state, port, static_cast<const std::uint8_t*>(buffer), accepted);
        *written = accepted;
        for (Port* open = &port;;) {
            const std::uint64_t now = platform::nowMicroseconds();
            if (now >= returnAtUs) {
                return FT_OK;
            }
            waitUntil(state, now, returnAtUs);
            const FT_STATUS status = stillOpen(state, token, open);
            if (status != FT_OK) {
                return status;
            }
        }
    });
}

FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return onPort(handle, nullptr, [rxBytes](SimState& state, Port& port) -> FT_STATUS {
        if (rxBytes == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        pump(state, port, platform::nowMicroseconds());
        *rxBytes = clampToDword(port.rx.size());
        return FT_OK;
    });
}

// The transmit count: bit-bang bytes not yet out on the pins.
FT_STATUS getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* events) {
    const CallLine line = callLine("FT_GetStatus");
    return onPort(handle, &line, [&](SimState& state, Port& port) -> FT_STATUS {
        if (rxBytes == nullptr || txBytes == nullptr || events == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        const std::uint64_t now = platform::nowMicroseconds();
        pump(state, port, now);
        const std::uint64_t busyUs = port.txBusyUntilUs > now ? port.txBusyUntilUs - now : 0;
        *rxBytes = clampToDword(port.rx.size());
        *txBytes = clampToDword(
            static_cast<std::size_t>((busyUs * bitBangBytesPerSecond(port) + 999999U) / 1000000U));
        *events = port.rx.size() > 0 ? FT_EVENT_RXCHAR : 0;
        return FT_OK;
    });
}

FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    const CallLine line = callLine("FT_SetBitMode 0x%02X %u", unsigned{mask}, unsigned{mode});
    return onPort(handle, &line, [mask, mode](SimState& state, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state, port, now);
        port.lines.setBitMode(port.device->instrument, state.env, mask, mode);
        updateReceiveHold(port, now);
        return FT_OK;
    });
}

// Nothing received before the purge is read after it: the receive buffer,
// the transfer in progress and the bridge's buffer all go.
FT_STATUS purge(FT_HANDLE handle, ULONG mask) {
    const CallLine line = callLine("FT_Purge 0x%02X", mask);
    return onPort(handle, &line, [mask](SimState& state, Port& port) -> FT_STATUS {
        if ((mask & FT_PURGE_RX) != 0) {
            const std::uint64_t now = platform::nowMicroseconds();
            catchUp(state, port, now);
            port.rx.clear();
            restartReceive(port, now);
        }
        if ((mask & FT_PURGE_TX) != 0) {
            port.txBusyUntilUs = 0;
        }
        return FT_OK;
    });
}

// The transfer in progress ends with what it holds; from then on the
// driver asks the bridge for nothing.
FT_STATUS stopInTask(FT_HANDLE handle) {
    const CallLine line = callLine("FT_StopInTask");
    return onPort(handle, &line, [](SimState& state, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state, port, now);
        port.inTaskStopped = true;
        if (port.transfers.cut(now, state.env, port.rx)) {
            ++port.unsignalled;
        }
        port.bridge.setAsking(false, now);
        return FT_OK;
    });
}

FT_STATUS restartInTask(FT_HANDLE handle) {
    const CallLine line = callLine("FT_RestartInTask");
    return onPort(handle, &line, [](SimState& state, Port& port) -> FT_STATUS {
        catchUp(state, port, platform::nowMicroseconds());
        port.inTaskStopped = false;
        return FT_OK;
    });
}

// Once it returns, the driver's thread never touches the event it replaced.
FT_STATUS setEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    const CallLine line = callLine("FT_SetEventNotification 0x%02X", mask);
    const FT_STATUS status =
        onPort(handle, &line, [mask, param](SimState&, Port& port) -> FT_STATUS {
            port.eventMask = mask;
            port.event = param;
            return FT_OK;
        });
    fenceEvents(simState());
    return status;
}

} // namespace zef::sim::driver

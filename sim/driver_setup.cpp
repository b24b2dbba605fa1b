// Port set-up calls: recorded for the tests, otherwise accepted as a real
// bridge would. In real time the baud rate and the latency timer set the
// bridge's pace and the read time-out FT_Read's; fast timing ignores them.
#include "sim/port_call.h"
#include "sim/simulated_driver.h"
#include "sim/wire.h"

#include <algorithm>

namespace zef::sim::driver {

namespace {

// The full-speed parts' UART tops out at 3 MBd.
constexpr ULONG kMaxBaudRate = 3000000;

FT_STATUS accept(SimState& /*state*/, Port& /*port*/) {
    return FT_OK;
}

FT_STATUS logged(FT_HANDLE handle, const CallLine& line) {
    return onPort(handle, &line, accept);
}

} // namespace

FT_STATUS resetDevice(FT_HANDLE handle) {
    return logged(handle, callLine("FT_ResetDevice"));
}

FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud) {
    const CallLine line = callLine("FT_SetBaudRate %u", baud);
    return onPort(handle, &line, [baud](SimState& state, Port& port) -> FT_STATUS {
        if (baud == 0) {
            return FT_INVALID_BAUD_RATE;
        }
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state, port, now);
        port.bridge.setBaudRate(std::min<ULONG>(baud, kMaxBaudRate), now);
        return FT_OK;
    });
}

FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    const CallLine line = callLine("FT_SetTimeouts %u %u", readMs, writeMs);
    return onPort(handle, &line, [readMs](SimState&, Port& port) -> FT_STATUS {
        port.readTimeoutMs = readMs;
        return FT_OK;
    });
}

FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    const CallLine line = callLine("FT_SetLatencyTimer %u", unsigned{milliseconds});
    return onPort(handle, &line, [milliseconds](SimState& state, Port& port) -> FT_STATUS {
        const std::uint64_t now = platform::nowMicroseconds();
        catchUp(state, port, now);
        port.bridge.setLatencyTimer(milliseconds, now);
        return FT_OK;
    });
}

FT_STATUS cyclePort(FT_HANDLE handle) {
    return logged(handle, callLine("FT_CyclePort"));
}

FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity) {
    return logged(handle, callLine("FT_SetDataCharacteristics %u %u %u", unsigned{bits},
                                   unsigned{stop}, unsigned{parity}));
}

FT_STATUS getModemStatus(FT_HANDLE handle, ULONG* status) {
    const CallLine line = callLine("FT_GetModemStatus");
    return onPort(handle, &line, [status](SimState&, Port& port) -> FT_STATUS {
        if (status == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        *status = port.device->cts ? FT_MODEM_STATUS_CTS : 0;
        return FT_OK;
    });
}

FT_STATUS setFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) {
    return logged(handle, callLine("FT_SetFlowControl 0x%04X 0x%02X 0x%02X", unsigned{mode},
                                   unsigned{xon}, unsigned{xoff}));
}

FT_STATUS setRts(FT_HANDLE handle) {
    return logged(handle, callLine("FT_SetRts"));
}

FT_STATUS setChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn) {
    return logged(handle, callLine("FT_SetChars 0x%02X %u 0x%02X %u", unsigned{event},
                                   unsigned{eventOn}, unsigned{error}, unsigned{errorOn}));
}

} // namespace zef::sim::driver

// Port set-up calls: recorded for the tests, otherwise accepted as a real
// bridge would. The simulated wire keeps its 3 MBd whatever baud rate is set.
#include "sim/port_call.h"
#include "sim/simulated_driver.h"

namespace zef::sim::driver {

namespace {

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
    return logged(handle, callLine("FT_SetBaudRate %u", baud));
}

FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return logged(handle, callLine("FT_SetTimeouts %u %u", readMs, writeMs));
}

FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
    return logged(handle, callLine("FT_SetLatencyTimer %u", unsigned{milliseconds}));
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

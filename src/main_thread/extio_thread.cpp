#include "extio_thread.h"

#include "fpga_loader.h"
#include "plugin/device_state.h"
#include "settings_frame.h"
#include "stream_parser.h"

namespace zef {

ExtIO_Thread::~ExtIO_Thread() {
    stop();
}

void ExtIO_Thread::runLoop() {
    DeviceState& state = deviceState;
    platform::Event& event = rxEvent();
    // After an abandoned load the device holds no gateware: nothing but a
    // reopen (which asks for a new load) can help, and a settings write that
    // happened to succeed must not hide the failure from StartHW's link check.
    bool loadAbandoned = false;
    while (!terminateRequested()) {
        if (!state.configNeeded.load()) {
            event.wait(state.bridgeLibrary.load() ? kBridgeWaitMs : kPlainWaitMs);
            event.reset();
        }
        // Lowered before the load, so a reopen during the load asks for
        // another one instead of being forgotten.
        if (state.configNeeded.exchange(false)) {
            loadAbandoned = !ConfigureFpga(*this);
            continue;
        }
        if (loadAbandoned || !state.deviceReady.load()) {
            continue;
        }
        if (state.settingsChanged.exchange(false)) {
            sendSettingsFrame(*this);
            continue;
        }
        parserPass(*this);
    }
}

} // namespace zef

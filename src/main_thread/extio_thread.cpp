#include "extio_thread.h"

#include "fpga_loader.h"
#include "plugin/device_state.h"
#include "settings_frame.h"
#include "stream_parser.h"
#include "usb_func/open_device.h"

namespace zef {

namespace {

void waitOnRxEvent(std::uint32_t timeoutMs) {
    platform::Event& event = rxEvent();
    event.wait(timeoutMs);
    event.reset();
}

bool configureEmbeddedImage(const platform::Thread& worker) {
    return ConfigureFpga(worker);
}

constexpr WorkerJobs kDeviceJobs = {&waitOnRxEvent, &configureEmbeddedImage, &sendSettingsFrame,
                                    &parserPass};

} // namespace

ExtIO_Thread::~ExtIO_Thread() {
    stop();
}

void workerPass(const platform::Thread& worker, const WorkerJobs& jobs, bool& loadAbandoned) {
    DeviceState& state = deviceState;
    if (!state.configNeeded.load()) {
        jobs.waitForBytes(state.bridgeLibrary.load() ? kBridgeWaitMs : kPlainWaitMs);
        if (worker.terminateRequested()) {
            return; // CloseHW woke us: no job after it
        }
    }
    // Lowered before the load, so a reopen during the load asks for another
    // one instead of being forgotten.
    if (state.configNeeded.exchange(false)) {
        loadAbandoned = !jobs.configureFpga(worker);
        return;
    }
    // A settings write that happened to succeed after an abandoned load must
    // not hide the failure from StartHW's link check. With no device open
    // (a reopen found nothing) the worker idles as before the first open.
    if (loadAbandoned || !state.deviceReady.load() || !portOpen()) {
        return;
    }
    if (state.settingsChanged.exchange(false)) {
        jobs.sendSettings(worker);
        return;
    }
    jobs.parse(worker);
}

void workerLoop(const platform::Thread& worker, const WorkerJobs& jobs) {
    bool loadAbandoned = false;
    while (!worker.terminateRequested()) {
        workerPass(worker, jobs, loadAbandoned);
    }
}

void ExtIO_Thread::runLoop() {
    workerLoop(*this, kDeviceJobs);
}

} // namespace zef

#include "extio_thread.h"

#include "fpga_loader.h"
#include "link_keeper.h"
#include "plugin/device_state.h"
#include "settings_frame.h"
#include "stream_parser.h"
#include "usb_func/device_session.h"

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
                                    &parserPass, &keepLink};

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
    if (const LinkSession load = takeLoadRequest(); load != kNoLink) {
        loadAbandoned = !jobs.configureFpga(worker);
        loadEnded(load);
        return;
    }
    if (jobs.keepLink != nullptr) {
        jobs.keepLink(worker); // also with no device open: a reopen may find it
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

bool ExtIO_Thread::launch() {
    ended_.reset();
    return start();
}

// The last thing the body does: a host thread waiting for it wakes here.
void ExtIO_Thread::runLoop() {
    workerLoop(*this, kDeviceJobs);
    ended_.set();
}

} // namespace zef

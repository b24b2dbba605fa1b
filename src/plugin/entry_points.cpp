#include "entry_points.h"

#include "device_state.h"
#include "main_thread/extio_thread.h"
#include "tuning.h"
#include "usb_func/device_session.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"

#include <cstring>

#if !defined(_WIN32)
extern "C" {
extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* module);
}
#endif

namespace zef {

namespace {

// Serialises the host-side life cycle: open, worker start and stop. Nothing
// waits for the worker while holding it, because a callback running on the
// worker may call any entry point.
platform::Mutex lifecycleLock;
// Some InitHW has run its set-up: from then on a StartHW whose reopen
// succeeds may start the worker (after CloseHW stopped it).
bool everInitialised = false;
// Guarded by lifecycleLock: host threads inside CloseHW waiting for the worker
// to end. While one waits, InitHW and StartHW change nothing: a waiting
// CloseHW wins, for the device as for the worker.
int closeWaiters = 0;
// An open device signals RxEvent: it pins our module (Windows) until closed.
platform::ModulePin devicePin;

bool closeWaiting() {
    return closeWaiters > 0;
}

// With lifecycleLock held, after anything that opens or closes the device.
void pinWhileOpen() {
    if (portOpen()) {
        devicePin.hold();
    } else {
        devicePin.release();
    }
}

// The worker wakes at once instead of after its wait.
void wakeWorker() {
    rxEvent().set();
}

#if !defined(_WIN32)
void closeAtExit(void* /*unused*/) {
    try {
        closeHW();
    } catch (...) { // NOLINT(bugprone-empty-catch): exit goes on regardless
    }
}

// At exit the runtime ends the static objects of this library, and of the
// driver it loaded, before this library's destructor function runs. A
// handler registered once a driver is loaded runs before all of that, and
// stops the worker while everything it uses is still there. It is bound to
// this module, so an unload runs it and it never outlives our code (a
// sanitizer's atexit would not bind it).
void stopAtExit() {
    static bool registered = false; // under lifecycleLock
    if (!registered) {
        registered = __cxa_atexit(&closeAtExit, nullptr, &__dso_handle) == 0;
    }
}
#else
// A DLL's exit handlers run under the loader lock, where nothing may wait.
void stopAtExit() {}
#endif

// With lifecycleLock held. OpenDevice stores the status and asks for the
// FPGA load itself, before the new session can be used.
void openDevice() {
    const std::uint32_t status = OpenDevice(&deviceState.deviceHandle);
    pinWhileOpen();
    if (status == 0) {
        stopAtExit();
        wakeWorker();
    }
}

// A safety net only: the wait ends when the worker's body does.
constexpr std::uint32_t kEndWaitSliceMs = 100;

// With lifecycleLock held: the link check, and a reopen when it fails.
void checkLinkAndReopen() {
    if (deviceState.driverStatus.load() == 0) {
        // A failure the worker stores meanwhile is newer than this check.
        std::int32_t unchanged = 0;
        deviceState.driverStatus.compare_exchange_strong(unchanged,
                                                         static_cast<std::int32_t>(CheckLink()));
    }
    if (deviceState.driverStatus.load() != 0) {
        openDevice();
    }
}

// With lifecycleLock held: waits for a worker on its way out with the lock
// released, since what it is still doing (its callback) may need the lock.
void waitForEnd(ExtIO_Thread& worker) {
    lifecycleLock.unlock();
    worker.waitUntilEnded(kEndWaitSliceMs);
    lifecycleLock.lock();
}

// With lifecycleLock held; may release it for a while. Leaves the worker
// running, unless a CloseHW on another thread waits for it: that CloseHW
// wins.
void ensureWorker() {
    while (!closeWaiting()) {
        ExtIO_Thread* worker = deviceState.worker.load();
        if (worker == nullptr) {
            worker = new ExtIO_Thread;
            deviceState.worker.store(worker);
        }
        if (!worker->started()) {
            worker->launch();
            return;
        }
        if (!worker->terminateRequested()) {
            return;
        }
        if (worker->finished() || worker->waitUntilEnded(0)) {
            worker->stop(); // joins a thread that is past our code
            continue;
        }
        if (worker->isCurrentThread()) {
            // CloseHW, then InitHW or StartHW, from one callback: the worker
            // simply goes on after the callback.
            worker->cancelTerminate();
            return;
        }
        waitForEnd(*worker); // on its way out, after the callback it is in
    }
}

// With lifecycleLock held; may release it while the worker ends. From inside
// the callback it only asks: the worker ends once the callback returns, and
// the next InitHW or StartHW joins it. No worker starts while one waits here.
void stopWorker() {
    ExtIO_Thread* worker = deviceState.worker.load();
    if (worker == nullptr || !worker->started()) {
        return;
    }
    worker->requestTerminate();
    wakeWorker();
    if (worker->isCurrentThread()) {
        return;
    }
    ++closeWaiters;
    while (worker->started() && !worker->finished() && !worker->waitUntilEnded(0)) {
        waitForEnd(*worker);
    }
    --closeWaiters;
    worker->stop(); // joins a body that has ended
}

void storeLo(std::int32_t freq) {
    {
        platform::LockGuard guard(deviceState.tuningLock);
        deviceState.loFrequency.store(freq);
        deviceState.loWord.store(TuningWord(freq));
    }
    deviceState.settingsChanged.store(true);
}

void storeTuneWord() {
    const std::int32_t offset = modeOffsetHz(deviceState.modeCode.load());
    deviceState.tuneWord.store(TuningWord(deviceState.tuneFrequency.load(), offset));
}

} // namespace

bool initHW(char* name, char* model, int* type) {
    if (type != nullptr) {
        *type = kHardwareType;
    }
    if (name != nullptr) {
        std::memcpy(name, kPluginName, sizeof kPluginName);
    }
    if (model != nullptr) {
        std::memcpy(model, kPluginModel, sizeof kPluginModel);
    }
    platform::LockGuard guard(lifecycleLock);
    if (closeWaiting()) {
        return true;
    }
    // A device that is ready, or whose load is under way, is left alone: a
    // second load would only delay it, and the host's LO stays.
    if (!deviceState.firstInit.load() && (deviceState.deviceReady.load() || loadUnderWay())) {
        return true;
    }
    deviceState.firstInit.store(false);
    deviceState.loFrequency.store(kDefaultLoFrequency);
    rxEvent();
    everInitialised = true;
    ensureWorker();
    if (!closeWaiting()) {
        openDevice();
    }
    return true;
}

int startHW(std::int32_t freq) {
    {
        platform::LockGuard guard(lifecycleLock);
        if (closeWaiting()) {
            return kBlockPairs;
        }
        checkLinkAndReopen();
        if (deviceState.driverStatus.load() == 0 && everInitialised) {
            ensureWorker();
        }
        if (closeWaiting()) {
            return kBlockPairs;
        }
        // Under the lock, so that a CloseHW cannot come in between and
        // return with streaming raised.
        storeLo(freq);
        deviceState.streaming.store(true);
    }
    wakeWorker();
    return kBlockPairs;
}

void reopenLostDevice() {
    platform::LockGuard guard(lifecycleLock);
    if (closeWaiting() || !deviceState.streaming.load()) {
        return;
    }
    checkLinkAndReopen();
}

void stopHW() {
    deviceState.streaming.store(false);
}

// The device is closed first: the worker's calls check their session under
// the driver lock, so from here on none reaches the handle.
void closeHW() {
    platform::LockGuard guard(lifecycleLock);
    deviceState.streaming.store(false);
    CloseDevice(&deviceState.deviceHandle);
    pinWhileOpen();
    deviceState.driverStatus.store(static_cast<std::int32_t>(FT_DEVICE_NOT_OPENED));
    deviceState.firstInit.store(true);
    stopWorker();
}

// Takes no lock: on Windows this runs under the loader lock, and holders of
// our locks load and free libraries and join threads that leave through
// FreeLibraryAndExitThread. Nothing else runs our code by then.
void releaseResources() {
    if (ExtIO_Thread* worker = deviceState.worker.exchange(nullptr)) {
        // Its body has returned (CloseHW from the callback), or this is the
        // worker itself leaving through its module reference: never wait.
        worker->release();
        delete worker;
    }
    // An open device would go on signalling the event; it pins the module,
    // so this only guards against a pin that could not be taken.
    if (!portOpen()) {
        delete deviceState.rxEvent.exchange(nullptr);
    }
}

void releaseOnUnload() {
    closeHW();
    releaseResources();
}

int setHWLO(std::int32_t freq) {
    storeLo(freq);
    wakeWorker();
    return 0;
}

std::int32_t getHWLO() {
    return deviceState.loFrequency.load();
}

void tuneChanged(std::int32_t freq) {
    {
        platform::LockGuard guard(deviceState.tuningLock);
        deviceState.tuneFrequency.store(freq);
        storeTuneWord();
    }
    deviceState.settingsChanged.store(true);
    wakeWorker();
}

void modeChanged(char mode) {
    {
        platform::LockGuard guard(deviceState.tuningLock);
        deviceState.modeCode.store(ModeCode(mode));
        storeTuneWord();
    }
    deviceState.settingsChanged.store(true);
    wakeWorker();
}

void setCallback(ExtIOCallback callback) {
    deviceState.hostCallback.store(callback);
    deviceState.callbackSet.store(true);
}

} // namespace zef

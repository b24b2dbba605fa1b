#include "entry_points.h"

#include "device_state.h"
#include "main_thread/extio_thread.h"
#include "tuning.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"

#include <cstring>

namespace zef {

namespace {

// Serialises the host-side life cycle: open, worker start and stop.
platform::Mutex lifecycleLock;
// Some InitHW has run its set-up: from then on a StartHW whose reopen
// succeeds may start the worker (after CloseHW stopped it).
bool everInitialised = false;

// The worker wakes at once instead of after its wait.
void wakeWorker() {
    rxEvent().set();
}

void openDevice() {
    const std::uint32_t status = OpenDevice(&deviceState.deviceHandle);
    deviceState.driverStatus.store(static_cast<std::int32_t>(status));
    if (status == 0) {
        deviceState.configNeeded.store(true);
        wakeWorker();
    }
}

void ensureWorker() {
    if (deviceState.worker == nullptr) {
        deviceState.worker = new ExtIO_Thread;
    }
    if (!deviceState.worker->started()) {
        deviceState.worker->start();
    }
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
    if (!deviceState.firstInit.load() && deviceState.deviceReady.load()) {
        return true;
    }
    deviceState.firstInit.store(false);
    deviceState.loFrequency.store(kDefaultLoFrequency);
    rxEvent();
    everInitialised = true;
    ensureWorker();
    openDevice();
    return true;
}

int startHW(std::int32_t freq) {
    {
        platform::LockGuard guard(lifecycleLock);
        if (deviceState.driverStatus.load() == 0) {
            DWORD queued = 0;
            FT_STATUS status = kUnboundStatus;
            {
                platform::LockGuard driver(driverLock());
                if (portOpen()) {
                    status = FT_GetQueueStatus(deviceState.deviceHandle, &queued);
                }
            }
            deviceState.driverStatus.store(static_cast<std::int32_t>(status));
        }
        if (deviceState.driverStatus.load() != 0) {
            openDevice();
            if (deviceState.driverStatus.load() == 0 && everInitialised) {
                ensureWorker();
            }
        }
    }
    storeLo(freq);
    deviceState.streaming.store(true);
    wakeWorker();
    return kBlockPairs;
}

void stopHW() {
    deviceState.streaming.store(false);
}

void closeHW() {
    platform::LockGuard guard(lifecycleLock);
    deviceState.streaming.store(false);
    if (deviceState.worker != nullptr) {
        if (deviceState.worker->isCurrentThread()) {
            deviceState.worker->requestTerminate(); // from inside the callback
        } else {
            deviceState.worker->requestTerminate();
            wakeWorker();
            deviceState.worker->stop();
        }
    }
    CloseDevice(&deviceState.deviceHandle);
    deviceState.driverStatus.store(static_cast<std::int32_t>(FT_DEVICE_NOT_OPENED));
    deviceState.firstInit.store(true);
}

void releaseResources() {
    platform::LockGuard guard(lifecycleLock);
    delete deviceState.worker;
    deviceState.worker = nullptr;
    // The device is closed, so the driver no longer signals the event.
    delete deviceState.rxEvent.exchange(nullptr);
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

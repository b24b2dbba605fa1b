// What the ExtIO exports do, as plain functions of the core library, so that
// other front ends (the SoapySDR module) drive the instrument the same way.
// None of them throws; none reports a device failure.
#pragma once

#include "extio_api.h"

#include <cstdint>

namespace zef {

bool initHW(char* name, char* model, int* type);
int startHW(std::int32_t freq);
void stopHW();
// Stops the worker, closes the device and makes the next InitHW start over.
void closeHW();
// Frees the stopped worker and RxEvent: the library is being unloaded after
// CloseHW (a running worker keeps a Windows module loaded, so it never gets
// here). Waits for nothing and takes no lock, so it is safe under the
// Windows loader lock.
void releaseResources();
// closeHW, then releaseResources: unloading on POSIX, where nothing pins.
void releaseOnUnload();
int setHWLO(std::int32_t freq);
std::int32_t getHWLO();
void tuneChanged(std::int32_t freq);
void modeChanged(char mode);
void setCallback(ExtIOCallback callback);
// The worker, while streaming, once the device stopped answering: StartHW's
// link check and reopen, without its new LO. Nothing while a CloseHW waits.
void reopenLostDevice();

} // namespace zef

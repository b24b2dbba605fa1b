// The ExtIO boundary: the sixteen functions a host resolves by name, their
// calling conventions, and the host's sample callback.
#pragma once

#include <cstdint>

#if defined(_WIN32)
// Callee-cleans for the exports, caller-cleans for the host callback. The
// .def file keeps the 32-bit names undecorated.
#define EXTIO_CALL __stdcall
#define EXTIO_CALLBACK_CALL __cdecl
#define EXTIO_EXPORT
#else
#define EXTIO_CALL
#define EXTIO_CALLBACK_CALL
#define EXTIO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

using ExtIOCallback = void(EXTIO_CALLBACK_CALL*)(int count, int status, float iqOffset,
                                                 void* iqData);

EXTIO_EXPORT bool EXTIO_CALL InitHW(char* name, char* model, int* type);
EXTIO_EXPORT bool EXTIO_CALL OpenHW();
EXTIO_EXPORT int EXTIO_CALL StartHW(std::int32_t freq);
EXTIO_EXPORT int EXTIO_CALL GetStatus();
EXTIO_EXPORT void EXTIO_CALL StopHW();
EXTIO_EXPORT void EXTIO_CALL CloseHW();
EXTIO_EXPORT int EXTIO_CALL SetHWLO(std::int32_t freq);
EXTIO_EXPORT std::int32_t EXTIO_CALL GetHWLO();
EXTIO_EXPORT std::int32_t EXTIO_CALL GetHWSR();
EXTIO_EXPORT void EXTIO_CALL IFLimitsChanged(std::int32_t low, std::int32_t high);
EXTIO_EXPORT void EXTIO_CALL TuneChanged(std::int32_t freq);
EXTIO_EXPORT void EXTIO_CALL ModeChanged(char mode);
EXTIO_EXPORT void EXTIO_CALL SetCallback(ExtIOCallback callback);
EXTIO_EXPORT void EXTIO_CALL ShowGUI();
EXTIO_EXPORT void EXTIO_CALL HideGUI();
EXTIO_EXPORT void EXTIO_CALL RawDataReady(std::int32_t rate, int* left, int* right, int count);

} // extern "C"

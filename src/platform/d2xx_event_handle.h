// FTDI's Linux D2XX signals this layout from FT_SetEventNotification: it
// locks eMutex and signals eCondVar. The platform's Event carries one and
// the simulated driver signals it, so the layout must stay exactly so.
#pragma once

#if !defined(_WIN32)

#include <pthread.h>

namespace zef::platform {

struct EVENT_HANDLE {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};

} // namespace zef::platform

#endif

#include "event_signal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace zef::sim {

#if defined(_WIN32)

bool signalDriverEvent(void* param) {
    return SetEvent(static_cast<HANDLE>(param)) != 0;
}

#else

namespace {

// FTDI's Linux layout; the host owns it.
struct EVENT_HANDLE {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};

} // namespace

bool signalDriverEvent(void* param) {
    auto* handle = static_cast<EVENT_HANDLE*>(param);
    pthread_mutex_lock(&handle->eMutex);
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
    return true;
}

#endif

} // namespace zef::sim

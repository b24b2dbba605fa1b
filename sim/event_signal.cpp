#include "event_signal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace zef::sim {

#if defined(_WIN32)

void signalDriverEvent(void* param) {
    SetEvent(static_cast<HANDLE>(param));
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

void signalDriverEvent(void* param) {
    auto* handle = static_cast<EVENT_HANDLE*>(param);
    pthread_mutex_lock(&handle->eMutex);
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
}

#endif

} // namespace zef::sim

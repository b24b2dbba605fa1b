#include "event_signal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "zef/d2xx.h"
#endif

namespace zef::sim {

#if defined(_WIN32)

bool signalDriverEvent(void* param) {
    return SetEvent(static_cast<HANDLE>(param)) != 0;
}

#else

// The host owns the handle.
bool signalDriverEvent(void* param) {
    auto* handle = static_cast<d2xx::EVENT_HANDLE*>(param);
    pthread_mutex_lock(&handle->eMutex);
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
    return true;
}

#endif

} // namespace zef::sim

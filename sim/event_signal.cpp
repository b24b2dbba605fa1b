#include "event_signal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "zef/d2xx.h"

#include <ctime>
#endif

namespace zef::sim {

#if defined(_WIN32)

EventSignal signalDriverEvent(void* param, std::uint32_t /*patienceMs*/) {
    return SetEvent(static_cast<HANDLE>(param)) != 0 ? EventSignal::Sent : EventSignal::Refused;
}

#else

// The host owns the handle. pthread_mutex_timedlock counts on the real-time
// clock; a jump of it only shortens or stretches one try.
EventSignal signalDriverEvent(void* param, std::uint32_t patienceMs) {
    auto* handle = static_cast<d2xx::EVENT_HANDLE*>(param);
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += static_cast<long>(patienceMs) * 1000000L;
    until.tv_sec += until.tv_nsec / 1000000000L;
    until.tv_nsec %= 1000000000L;
    if (pthread_mutex_timedlock(&handle->eMutex, &until) != 0) {
        return EventSignal::Busy;
    }
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
    return EventSignal::Sent;
}

#endif

} // namespace zef::sim

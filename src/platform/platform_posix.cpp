#include "platform.h"

#include "zef/d2xx.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <link.h>
#include <new>
#include <pthread.h>

namespace zef::platform {

namespace {

timespec deadlineAfter(std::uint32_t milliseconds) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += static_cast<time_t>(milliseconds / 1000U);
    ts.tv_nsec += static_cast<long>(milliseconds % 1000U) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

pthread_mutex_t* nativeMutex(unsigned char* storage) {
    static_assert(sizeof(pthread_mutex_t) <= 64);
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

pthread_cond_t* nativeCondition(unsigned char* storage) {
    static_assert(sizeof(pthread_cond_t) <= 64);
    return std::launder(reinterpret_cast<pthread_cond_t*>(storage));
}

} // namespace

Library loadLibrary(const char* fileName) {
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(Library library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void freeLibrary(Library library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

std::string libraryFile(Library library) {
    link_map* map = nullptr;
    if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr) {
        return "";
    }
    return map->l_name;
}

// The program itself has an empty name in its link map: /proc/self/exe
// names it then, with every link resolved.
std::string thisModuleFolder() {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&thisModuleFolder), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
        return "";
    }
    const char* name =
        map->l_name != nullptr && *map->l_name != '\0' ? map->l_name : "/proc/self/exe";
    char resolved[PATH_MAX];
    if (realpath(name, resolved) == nullptr) {
        return "";
    }
    std::string file = resolved;
    return file.substr(0, file.rfind('/'));
}

void sleepMs(std::uint32_t milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000U),
                static_cast<long>(milliseconds % 1000U) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::uint64_t nowMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000U +
           static_cast<std::uint64_t>(ts.tv_nsec / 1000);
}

// The driver handle must be the first member: FT_SetEventNotification gets
// the Impl's address.
struct Event::Impl {
    d2xx::EVENT_HANDLE handle{};
    bool latched = false; // guarded by handle.eMutex
};

Event::Event() : impl_(new Impl) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&impl_->handle.eCondVar, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_init(&impl_->handle.eMutex, nullptr);
}

Event::~Event() {
    pthread_cond_destroy(&impl_->handle.eCondVar);
    pthread_mutex_destroy(&impl_->handle.eMutex);
    delete impl_;
}

void Event::set() {
    pthread_mutex_lock(&impl_->handle.eMutex);
    impl_->latched = true;
    pthread_cond_broadcast(&impl_->handle.eCondVar);
    pthread_mutex_unlock(&impl_->handle.eMutex);
}

void Event::reset() {
    pthread_mutex_lock(&impl_->handle.eMutex);
    impl_->latched = false;
    pthread_mutex_unlock(&impl_->handle.eMutex);
}

bool Event::wait(std::uint32_t timeoutMs) {
    const timespec deadline = deadlineAfter(timeoutMs);
    pthread_mutex_lock(&impl_->handle.eMutex);
    bool signalled = impl_->latched;
    if (!signalled) {
        // Any wake-up counts: the driver signals without latching, and an
        // early pass costs nothing but a queue query.
        const int rc =
            pthread_cond_timedwait(&impl_->handle.eCondVar, &impl_->handle.eMutex, &deadline);
        signalled = impl_->latched || rc == 0;
    }
    pthread_mutex_unlock(&impl_->handle.eMutex);
    return signalled;
}

void* Event::driverHandle() {
    return &impl_->handle;
}

Mutex::Mutex() : storage_{} {
    pthread_mutex_init(nativeMutex(storage_), nullptr);
}
void Mutex::lock() {
    pthread_mutex_lock(nativeMutex(storage_));
}
void Mutex::unlock() {
    pthread_mutex_unlock(nativeMutex(storage_));
}

Condition::Condition() : storage_{} {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(nativeCondition(storage_), &attr);
    pthread_condattr_destroy(&attr);
}

void Condition::waitFor(Mutex& mutex, std::uint64_t timeoutUs) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const std::uint64_t ns =
        static_cast<std::uint64_t>(deadline.tv_nsec) + timeoutUs % 1000000U * 1000U;
    deadline.tv_sec += static_cast<time_t>(timeoutUs / 1000000U + ns / 1000000000U);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000U);
    pthread_cond_timedwait(nativeCondition(storage_), nativeMutex(mutex.storage_), &deadline);
}

void Condition::notifyAll() {
    pthread_cond_broadcast(nativeCondition(storage_));
}

void ModulePin::hold() {}
void ModulePin::release() {}

struct ThreadEntry {
    static void* run(void* argument) {
        Thread::entry(static_cast<Thread*>(argument));
        return nullptr;
    }
};

void Thread::entry(Thread* self) {
    self->runLoop();
    self->finished_.store(true, std::memory_order_release);
}

Thread::~Thread() {
    stop();
}

bool Thread::start() {
    if (handle_ != nullptr) {
        return false;
    }
    terminate_.store(false, std::memory_order_release);
    finished_.store(false, std::memory_order_release);
    static_assert(sizeof(pthread_t) <= sizeof(id_));
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, &ThreadEntry::run, this) != 0) {
        finished_.store(true, std::memory_order_release);
        return false;
    }
    id_ = static_cast<std::uint64_t>(thread);
    handle_ = this;
    return true;
}

void Thread::stop() {
    if (handle_ == nullptr) {
        return;
    }
    requestTerminate();
    pthread_join(static_cast<pthread_t>(id_), nullptr);
    handle_ = nullptr;
    id_ = 0;
}

void Thread::release() {
    if (handle_ == nullptr) {
        return;
    }
    pthread_detach(static_cast<pthread_t>(id_));
    handle_ = nullptr;
    id_ = 0;
}

bool Thread::isCurrentThread() const {
    return handle_ != nullptr && pthread_equal(pthread_self(), static_cast<pthread_t>(id_)) != 0;
}

std::uint64_t Thread::cpuMicroseconds() const {
    clockid_t clock{};
    timespec ts{};
    if (handle_ == nullptr || pthread_getcpuclockid(static_cast<pthread_t>(id_), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000U +
           static_cast<std::uint64_t>(ts.tv_nsec / 1000);
}

} // namespace zef::platform

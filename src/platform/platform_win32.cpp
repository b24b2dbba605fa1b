#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <new>

namespace zef::platform {

namespace {

SRWLOCK* nativeLock(unsigned char* storage) {
    static_assert(sizeof(SRWLOCK) <= 64);
    return std::launder(reinterpret_cast<SRWLOCK*>(storage));
}

CONDITION_VARIABLE* nativeCondition(unsigned char* storage) {
    static_assert(sizeof(CONDITION_VARIABLE) <= 64);
    return std::launder(reinterpret_cast<CONDITION_VARIABLE*>(storage));
}

// A reference to the module that holds this code (the plug-in, or a test
// program), so a running thread keeps it mapped.
HMODULE referenceOwnModule() {
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&referenceOwnModule), &module) == 0) {
        return nullptr;
    }
    return module;
}

struct ThreadStart {
    Thread* thread;
    HMODULE module;
};

} // namespace

Library loadLibrary(const char* fileName) {
    return LoadLibraryA(fileName);
}

void* findSymbol(Library library, const char* name) {
    if (library == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(Library library) {
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
}

void sleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::uint64_t nowMicroseconds() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<std::uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    // Split so that ticks * 10^6 cannot overflow.
    return ticks / frequency * 1000000U + ticks % frequency * 1000000U / frequency;
}

struct Event::Impl {
    HANDLE handle = nullptr;
};

Event::Event() : impl_(new Impl) {
    impl_->handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (impl_->handle == nullptr) {
        delete impl_;
        throw std::bad_alloc();
    }
}

Event::~Event() {
    CloseHandle(impl_->handle);
    delete impl_;
}

void Event::set() {
    SetEvent(impl_->handle);
}

void Event::reset() {
    ResetEvent(impl_->handle);
}

bool Event::wait(std::uint32_t timeoutMs) {
    return WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
}

void* Event::driverHandle() {
    return impl_->handle;
}

Mutex::Mutex() : storage_{} {
    InitializeSRWLock(nativeLock(storage_));
}
void Mutex::lock() {
    AcquireSRWLockExclusive(nativeLock(storage_));
}
void Mutex::unlock() {
    ReleaseSRWLockExclusive(nativeLock(storage_));
}

Condition::Condition() : storage_{} {
    InitializeConditionVariable(nativeCondition(storage_));
}

void Condition::waitFor(Mutex& mutex, std::uint64_t timeoutUs) {
    const std::uint64_t ms = (timeoutUs + 999U) / 1000U;
    SleepConditionVariableSRW(nativeCondition(storage_), nativeLock(mutex.storage_),
                              static_cast<DWORD>(std::min<std::uint64_t>(ms, INFINITE - 1)), 0);
}

void Condition::notifyAll() {
    WakeAllConditionVariable(nativeCondition(storage_));
}

void ModulePin::hold() {
    if (module_ == nullptr) {
        module_ = referenceOwnModule();
    }
}

void ModulePin::release() {
    if (module_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module_));
        module_ = nullptr;
    }
}

struct ThreadEntry {
    static DWORD WINAPI run(LPVOID argument) {
        const ThreadStart start = *static_cast<ThreadStart*>(argument);
        delete static_cast<ThreadStart*>(argument);
        Thread::entry(start.thread);
        // Drops the thread's module reference only once no more of its code
        // runs: a host may have freed the plug-in while this thread worked.
        if (start.module != nullptr) {
            FreeLibraryAndExitThread(start.module, 0);
        }
        return 0;
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
    const HMODULE module = referenceOwnModule();
    auto* startInfo = new (std::nothrow) ThreadStart{this, module};
    DWORD threadId = 0;
    HANDLE thread = startInfo == nullptr ? nullptr
                                         : CreateThread(nullptr, 0, &ThreadEntry::run, startInfo,
                                                        CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        delete startInfo;
        finished_.store(true, std::memory_order_release);
        return false;
    }
    // Still suspended: its body cannot have finished yet.
    finished_.store(false, std::memory_order_release);
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    handle_ = thread;
    id_ = threadId;
    ResumeThread(thread);
    return true;
}

void Thread::stop() {
    if (handle_ == nullptr) {
        return;
    }
    requestTerminate();
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    id_ = 0;
}

void Thread::release() {
    if (handle_ == nullptr) {
        return;
    }
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    id_ = 0;
}

bool Thread::isCurrentThread() const {
    return handle_ != nullptr && GetCurrentThreadId() == static_cast<DWORD>(id_);
}

std::uint64_t Thread::cpuMicroseconds() const {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (handle_ == nullptr ||
        GetThreadTimes(static_cast<HANDLE>(handle_), &created, &exited, &kernel, &user) == 0) {
        return 0;
    }
    auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32U) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10U; // 100 ns units
}

} // namespace zef::platform

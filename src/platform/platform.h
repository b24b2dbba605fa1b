// The few operating-system services the plug-in needs: dynamic libraries, a
// millisecond sleep, a manual-reset event the D2XX driver can signal, a lock
// and a thread with a terminate request. One POSIX and one Win32
// implementation sit behind this header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zef::platform {

// Dynamic libraries. `loadLibrary` takes a bare file name and uses the
// platform's default search order; a library that is already loaded under
// that name is found first.
using Library = void*;
Library loadLibrary(const char* fileName);
void* findSymbol(Library library, const char* name);
void freeLibrary(Library library);

#if !defined(_WIN32)
// The file a loaded library came from; "" when unknown.
std::string libraryFile(Library library);
// The folder of the module (program or shared library) this code is linked
// into, so that files installed beside it are found wherever it lies.
std::string thisModuleFolder();
#endif

void sleepMs(std::uint32_t milliseconds);

// Monotonic clock for timeouts and measurements.
std::uint64_t nowMicroseconds();

// Manual-reset event, not signalled when created. `set` latches until `reset`.
// `driverHandle` is what FT_SetEventNotification expects: a HANDLE on Windows,
// FTDI's EVENT_HANDLE (condition variable, mutex, int) on POSIX. The driver's
// own signals wake a waiter but are not latched, as in FTDI's Linux library.
class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // True when the event was signalled before the time ran out.
    bool wait(std::uint32_t timeoutMs);
    void* driverHandle();

  private:
    struct Impl;
    Impl* impl_;
};

// Non-recursive lock: an SRW lock on Windows, a pthread mutex on POSIX.
// Never destroyed: at exit the C++ runtime ends a library's static objects
// while threads may still take its locks, so a lock outlives every user.
class Mutex {
  public:
    Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

  private:
    friend class Condition;
    alignas(std::max_align_t) unsigned char storage_[64];
};

// A condition variable for a Mutex: a CONDITION_VARIABLE on Windows, a
// pthread condition on the monotonic clock on POSIX. Never destroyed, like
// the Mutex.
class Condition {
  public:
    Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // With `mutex` held: releases it while waiting, at most `timeoutUs`
    // (rounded up to whole milliseconds on Windows), and holds it again on
    // return. Wakes may be spurious: the caller tests its condition.
    void waitFor(Mutex& mutex, std::uint64_t timeoutUs);
    void notifyAll();

  private:
    alignas(std::max_align_t) unsigned char storage_[64];
};

class LockGuard {
  public:
    explicit LockGuard(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~LockGuard() { mutex_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    Mutex& mutex_;
};

// Keeps the module that holds this code loaded after the host frees it, for
// as long as the pin is held (Windows). An open device signals our event, so
// it must not outlive our code; on POSIX the library's destructor closes the
// device instead, and the pin does nothing.
class ModulePin {
  public:
    void hold();    // nothing when already held
    void release(); // nothing when not held

  private:
    [[maybe_unused]] void* module_ = nullptr; // Windows only
};

// A thread object whose body is `runLoop`. The body polls
// `terminateRequested`; `stop` raises the request and waits for the body to
// end. On Windows a running thread holds a reference to the module its code
// lives in, so unloading that module can never pull the code from under it.
class Thread {
  public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Creates the thread suspended at normal priority, then resumes it.
    // After a failed start `finished` holds: no body runs to wait for.
    bool start();
    void requestTerminate() { terminate_.store(true, std::memory_order_release); }
    [[nodiscard]] bool terminateRequested() const {
        return terminate_.load(std::memory_order_acquire);
    }
    // Withdraws a request the body has not acted on yet; only the thread
    // itself may, from inside its body.
    void cancelTerminate() { terminate_.store(false, std::memory_order_release); }
    // Requests termination and waits for the body to return. Safe to call
    // more than once; must not be called from the thread itself.
    void stop();
    // Lets go of a thread whose body has returned (or is the caller on its way
    // out) without waiting for it: for an unload, where waiting is forbidden.
    void release();
    [[nodiscard]] bool started() const { return handle_ != nullptr; }
    // The body has returned; the thread may still be running its exit.
    [[nodiscard]] bool finished() const { return finished_.load(std::memory_order_acquire); }
    [[nodiscard]] bool isCurrentThread() const;
    // CPU time the thread has used so far, user and kernel; 0 when not running.
    [[nodiscard]] std::uint64_t cpuMicroseconds() const;

  protected:
    virtual void runLoop() = 0;

  private:
    static void entry(Thread* self);
    friend struct ThreadEntry;
    std::atomic<bool> terminate_{false};
    std::atomic<bool> finished_{false};
    void* handle_ = nullptr;
    std::uint64_t id_ = 0;
};

} // namespace zef::platform

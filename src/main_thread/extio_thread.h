// The worker: all device traffic after the open runs on this thread. Each
// pass of its loop does one job, chosen by the flags in DeviceState: FPGA
// configuration, then a pending settings frame, then a parser pass.
#pragma once

#include "platform/platform.h"

namespace zef {

class ExtIO_Thread : public platform::Thread {
  public:
    ~ExtIO_Thread() override;

    bool launch();
    // True once the body has run to its end (the thread may still be on its
    // way out), at the latest after `timeoutMs`.
    bool waitUntilEnded(std::uint32_t timeoutMs) { return ended_.wait(timeoutMs); }

  protected:
    void runLoop() override;

  private:
    platform::Event ended_;
};

// Wait before a pass: the driver signals RxEvent when bytes arrive.
inline constexpr std::uint32_t kPlainWaitMs = 40;
inline constexpr std::uint32_t kBridgeWaitMs = 4;

// What a pass may do: the worker's own jobs, or a test's that log the order.
struct WorkerJobs {
    void (*waitForBytes)(std::uint32_t timeoutMs);         // waits on RxEvent, then resets it
    bool (*configureFpga)(const platform::Thread& worker); // false: load abandoned
    void (*sendSettings)(const platform::Thread& worker);
    void (*parse)(const platform::Thread& worker);
    void (*keepLink)(const platform::Thread& worker); // may be null
};

// One pass of the loop. `loadAbandoned` carries from pass to pass: after an
// abandoned load the device holds no gateware, and only a reopen (which asks
// for a new load) can help.
void workerPass(const platform::Thread& worker, const WorkerJobs& jobs, bool& loadAbandoned);

// Passes until the terminate request, which a pass sees after its wait.
void workerLoop(const platform::Thread& worker, const WorkerJobs& jobs);

} // namespace zef

// The worker: all device traffic after the open runs on this thread. Each
// pass of its loop does one job, chosen by the flags in DeviceState: FPGA
// configuration, then a pending settings frame, then a parser pass.
#pragma once

#include "platform/platform.h"

namespace zef {

class ExtIO_Thread : public platform::Thread {
  public:
    ~ExtIO_Thread() override;

  protected:
    void runLoop() override;
};

// Wait before a pass: the driver signals RxEvent when bytes arrive.
inline constexpr std::uint32_t kPlainWaitMs = 40;
inline constexpr std::uint32_t kBridgeWaitMs = 4;

} // namespace zef

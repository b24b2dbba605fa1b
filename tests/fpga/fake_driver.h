// A D2XX driver inside the test process: its functions sit in driverTable's
// slots and log every call, together with the loader's passes and sleeps.
#pragma once

#include "platform/platform.h"
#include "zef/d2xx.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake {

struct Call {
    std::string what;                  // "SetBitMode 85 1", "Write 3", "Sleep 25", "Pass", ...
    std::vector<std::uint8_t> offered; // Write only
    std::uint32_t accepted = 0;        // Write only
};

struct WriteReply {
    zef::d2xx::FT_STATUS status;
    zef::d2xx::DWORD accepted;
};

struct QueueReply {
    zef::d2xx::FT_STATUS status;
    zef::d2xx::DWORD transmitQueued;
};

struct Driver {
    std::vector<Call> calls;
    // Default: every write accepted whole, the transmit queue empty.
    std::function<WriteReply(std::size_t writeIndex, zef::d2xx::DWORD size)> onWrite;
    std::function<QueueReply(std::size_t pollIndex)> onGetStatus;
    std::function<void(std::size_t passIndex)> onPass;
    std::size_t writes = 0;
    std::size_t polls = 0;
    std::size_t passes = 0;
};

extern Driver driver;

// Fills driverTable with the fake's functions and resets the log and
// DeviceState's loader flags; `bridge` picks which library it poses as.
void install(bool bridge);

// The loader's waits, logged.
void pass(const zef::platform::Thread& worker);
void sleep(std::uint32_t milliseconds);

std::vector<std::string> callNames();
// The bytes the device accepted between the program pulse and the trailer.
std::vector<std::uint8_t> imageStream();
std::vector<std::uint8_t> trailer();
// Turns bit-bang bytes back into image bytes; fails the test on a malformed pair.
std::vector<std::uint8_t> decodeBitBang(const std::vector<std::uint8_t>& stream);

class Worker : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

} // namespace fake

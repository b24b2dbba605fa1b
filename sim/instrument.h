// One simulated ZEF418 behind its USB bridge: the FPGA's configuration port,
// the gateware's command receiver, and the frames it sends towards the host.
#pragma once

#include "sim/command_receiver.h"
#include "sim/environment.h"
#include "sim/fpga_decoder.h"
#include "sim/sample_source.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace zef::sim {

// A frame waiting for the wire; its first `sent` bytes have gone already.
struct OutFrame {
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    std::int64_t sampleNumber = -1; // -1: a status frame
    std::uint64_t readyUs = 0;      // real time: the gateware may start sending it then
};

class Instrument {
  public:
    // Power lost (cable pulled) or a new port: nothing survives on the wire.
    void powerCycle();
    void attach(std::uint64_t nowUs);

    void beginBitBang();
    void bitBangBytes(const std::uint8_t* pins, std::size_t n);
    void endBitBang(Environment& env);
    void uartBytes(const std::uint8_t* bytes, std::size_t n, Environment& env, std::uint64_t nowUs);

    // Before anything else at `nowUs`: a gateware whose start-up time has
    // passed starts listening and sending.
    void advance(Environment& env, std::uint64_t nowUs);
    // Real time: queues the sample frames whose time has come.
    void produceDue(Environment& env, std::uint64_t nowUs);
    // Fast: queues the next sample frame at once (real time: due at `readyUs`).
    void produceNext(Environment& env, std::uint64_t readyUs = 0);
    void restartClock(std::uint64_t nowUs);

    [[nodiscard]] bool configured() const { return configured_; }
    [[nodiscard]] bool streaming() const { return streaming_; }
    [[nodiscard]] bool starting() const { return startPending_; }
    [[nodiscard]] std::size_t pendingBytes() const;
    // Real time: when the next frame is queued, if nothing is waiting now
    // (UINT64_MAX: none is coming).
    [[nodiscard]] std::uint64_t nextOutputUs() const;
    std::deque<OutFrame>& output() { return output_; }
    [[nodiscard]] const std::deque<OutFrame>& output() const { return output_; }

  private:
    void unconfigure();
    void queueStatus(Environment& env, std::uint8_t state, std::uint64_t atUs);
    void settingsReceived(Environment& env, std::uint64_t nowUs);
    void begin(Environment& env, std::uint64_t atUs);

    BitBangDecoder decoder_;
    CommandReceiver receiver_;
    SampleSource source_;
    std::deque<OutFrame> output_;
    bool configured_ = false;
    bool streaming_ = false;
    bool startPending_ = false; // the start command came; the gateware is not up yet
    std::uint64_t startAtUs_ = 0;
    std::uint64_t framesMade_ = 0; // sample frames since the configuration
    std::uint64_t clockOriginUs_ = 0;
    std::uint64_t clockFrames_ = 0; // frames made since clockOriginUs_
};

} // namespace zef::sim

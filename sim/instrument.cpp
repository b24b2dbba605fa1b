#include "instrument.h"

#include "sim/device_frames.h"
#include "zef/sample_rate.h"

#include <array>
#include <span>

namespace zef::sim {

namespace {

// One sample frame every kBlockPairs pairs at kSampleRate pairs per second.
constexpr auto kFrameTicksPerSecond = static_cast<std::uint64_t>(kSampleRate);
constexpr std::uint64_t kFrameTicks = std::uint64_t{kBlockPairs} * 1000000ULL;
// A late clock (a stopped process) restarts rather than bursting.
constexpr std::uint64_t kMaxBacklogFrames = 256;
// The gateware's output FIFO, in frames: a line slower than the samples (a
// baud rate below 3 MBd) overruns it, and the frames that find it full are
// never sent.
constexpr std::size_t kFifoFrames = 64;

std::uint64_t frameDueUs(std::uint64_t originUs, std::uint64_t frame) {
    return originUs + frame * kFrameTicks / kFrameTicksPerSecond;
}

} // namespace

void Instrument::powerCycle() {
    unconfigure();
    decoder_.reset();
    receiver_.reset();
}

void Instrument::attach(std::uint64_t nowUs) {
    output_.clear();
    receiver_.reset();
    restartClock(nowUs);
}

void Instrument::restartClock(std::uint64_t nowUs) {
    clockOriginUs_ = nowUs;
    clockFrames_ = 0;
}

void Instrument::unconfigure() {
    configured_ = false;
    streaming_ = false;
    startPending_ = false;
    output_.clear();
}

void Instrument::beginBitBang() {
    decoder_.reset();
}

void Instrument::bitBangBytes(const std::uint8_t* pins, std::size_t n) {
    decoder_.feed(pins, n);
    if (decoder_.programPulsed()) {
        unconfigure();
    }
}

void Instrument::endBitBang(Environment& env) {
    if (!decoder_.programPulsed()) {
        return; // the configuration was never cleared: nothing changes
    }
    env.configImage = decoder_.image();
    configured_ = configurationAccepted(env.configImage, decoder_.trailerClocks());
    ++(configured_ ? env.counters.configs_accepted : env.counters.configs_rejected);
    if (configured_) {
        framesMade_ = 0;
        source_.restart();
        env.frameTimes.clear();
    }
    decoder_.reset();
    receiver_.reset();
}

void Instrument::uartBytes(const std::uint8_t* bytes, std::size_t n, Environment& env,
                           std::uint64_t nowUs) {
    for (std::size_t i = 0; i < n; ++i) {
        switch (receiver_.feed(bytes[i])) {
        case CommandReceiver::Command::Start:
            ++env.counters.start_commands;
            if (!configured_ || startPending_) {
                break; // no gateware to hear it, or one still starting
            }
            if (streaming_ || env.gatewareStartupMs == 0) {
                begin(env, nowUs);
            } else {
                startPending_ = true;
                startAtUs_ = nowUs + std::uint64_t{env.gatewareStartupMs} * 1000U;
            }
            break;
        case CommandReceiver::Command::Settings:
            if (startPending_ && decodeSettings(receiver_.frame())) {
                ++env.counters.settings_unheard;
            } else if (configured_ && !startPending_) {
                settingsReceived(env, nowUs);
            }
            break;
        case CommandReceiver::Command::None:
            break;
        }
    }
}

void Instrument::advance(Environment& env, std::uint64_t nowUs) {
    if (startPending_ && nowUs >= startAtUs_) {
        startPending_ = false;
        begin(env, startAtUs_);
    }
}

// The gateware is up: it reports ready and, the first time, starts its
// sample clock.
void Instrument::begin(Environment& env, std::uint64_t atUs) {
    if (!env.faults.neverReady) {
        queueStatus(env, kStateReady, atUs);
    }
    if (!streaming_) {
        streaming_ = true;
        restartClock(atUs);
    }
}

void Instrument::settingsReceived(Environment& env, std::uint64_t nowUs) {
    const auto& frame = receiver_.frame();
    const auto decoded = decodeSettings(frame);
    if (!decoded) {
        ++env.counters.settings_rejected;
        return;
    }
    ++env.counters.settings_received;
    env.lastSettings = frame;
    env.lastSettingsTimeUs = nowUs;
    env.loWord = decoded->loWord;
    if (!env.faults.neverAck) {
        queueStatus(env, kStateAcknowledged, nowUs);
    }
}

// A status frame goes out after the frame being sent and after any status
// frames already waiting, ahead of sample frames not yet started.
void Instrument::queueStatus(Environment& env, std::uint8_t state, std::uint64_t atUs) {
    OutFrame frame;
    frame.readyUs = atUs;
    const auto body =
        statusBody(state, env.model, std::span<const std::uint8_t, 64>(env.calibrationA),
                   std::span<const std::uint8_t, 64>(env.calibrationB));
    appendFrame(frame.bytes, kStatusType, body);
    std::size_t at = (!output_.empty() && output_.front().sent > 0) ? 1 : 0;
    while (at < output_.size() && output_[at].sampleNumber < 0) {
        ++at;
    }
    output_.insert(output_.begin() + static_cast<std::ptrdiff_t>(at), std::move(frame));
}

void Instrument::produceNext(Environment& env, std::uint64_t readyUs) {
    if (!streaming_) {
        return;
    }
    std::array<std::uint8_t, kSampleBodySize> body{};
    source_.writeBody(body.data(), framesMade_, env);
    if (output_.size() >= kFifoFrames) {
        ++framesMade_;
        ++env.counters.sample_frames_overrun;
        return;
    }
    OutFrame frame;
    frame.readyUs = readyUs;
    frame.sampleNumber = static_cast<std::int64_t>(framesMade_++);
    appendFrame(frame.bytes, kSampleType, body);
    output_.push_back(std::move(frame));
}

void Instrument::produceDue(Environment& env, std::uint64_t nowUs) {
    if (!streaming_) {
        return;
    }
    if (nowUs > frameDueUs(clockOriginUs_, clockFrames_ + kMaxBacklogFrames)) {
        restartClock(nowUs);
    }
    while (nowUs >= frameDueUs(clockOriginUs_, clockFrames_ + 1)) {
        ++clockFrames_;
        produceNext(env, frameDueUs(clockOriginUs_, clockFrames_));
    }
}

std::uint64_t Instrument::nextOutputUs() const {
    if (startPending_) {
        return startAtUs_;
    }
    return streaming_ ? frameDueUs(clockOriginUs_, clockFrames_ + 1) : UINT64_MAX;
}

std::size_t Instrument::pendingBytes() const {
    std::size_t n = 0;
    for (const OutFrame& frame : output_) {
        n += frame.bytes.size() - frame.sent;
    }
    return n;
}

} // namespace zef::sim

// The call sequences of the SoapySDR programs people use, as their sources
// have them (the function and version are named at each), for the replay in
// program_sequences_test.cpp: how each starts, what its reader thread does
// once, how the user retunes it and how it stops.
#pragma once

#include "soapy_fixture.h"

#include <atomic>
#include <functional>
#include <thread>

namespace zef::test {

using Clock = std::chrono::steady_clock;

// What a program keeps between its calls.
struct Session {
    SoapySDR::Device* device = nullptr;
    SoapySDR::Stream* stream = nullptr;
    double frequency = 0;          // where the user has it tuned at the start
    std::atomic<double> wanted{0}; // CubicSDR: set by the window, applied by its SDR thread
    std::mutex deviceLock;         // gr-soapy's d_device_mutex
    std::vector<float> samples = std::vector<float>(2 * 8192);
    void* buffs[1] = {samples.data()};

    // The instrument streams in real time once the open has loaded it.
    void make(const SoapySDR::Kwargs& args) {
        device = SoapySDR::Device::make(args);
        zefsim_set_timing(ZEFSIM_REALTIME);
    }
    int read(size_t elements, long timeoutUs) {
        int flags = 0;
        long long timeNs = 0;
        return device->readStream(stream, buffs, elements, flags, timeNs, timeoutUs);
    }
};

// The program's reader thread: its read loop, watched.
class Reader {
  public:
    void start(const std::function<int(Session&)>& read, Session& session) {
        thread_ = std::thread([this, read, &session] {
            while (running_.load()) {
                const auto begun = Clock::now();
                int got = 0;
                try {
                    got = read(session);
                } catch (const std::exception& error) {
                    failure_ = error.what();
                    return; // the program's stream ends (CubicSDR: silently)
                }
                const auto took =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
                longest_.store(std::max<long long>(longest_.load(), took.count()));
                samples_ += got > 0 ? static_cast<std::uint64_t>(got) : 0U;
                errors_ += got < 0 && got != SOAPY_SDR_TIMEOUT ? 1U : 0U;
            }
        });
    }
    // The program's own stop flag, and its wait for the thread.
    void halt() { running_.store(false); }
    void join() {
        halt();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::uint64_t samples() const { return samples_.load(); }
    std::uint64_t errors() const { return errors_.load(); }
    long long longestMs() const { return longest_.load(); }
    const std::string& failure() const { return failure_; } // after join

  private:
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::atomic<std::uint64_t> samples_{0};
    std::atomic<std::uint64_t> errors_{0};
    std::atomic<long long> longest_{0};
    std::string failure_;
};

struct Program {
    const char* id; // for the test's name
    const char* name;
    std::function<void(Session&)> startUp; // ends with the stream active
    std::function<int(Session&)> read;     // one pass of its read loop; null: it does not stream
    std::function<void(Session&, double)> tune;
    std::function<void(Session&, Reader&)> stop; // ends with the device unmade
};

extern const Program kCubicSdr;
extern const Program kSdrPlusPlus;
extern const Program kGqrx;
extern const Program kGnuRadio;
extern const Program kSoapyRemoteServer;
extern const Program kProbe;

// What SoapySDRUtil --probe asks of a device.
void probe(SoapySDR::Device& d);

} // namespace zef::test

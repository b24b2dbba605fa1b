// The call sequences of the SoapySDR programs people use
// (program_sequences.h), replayed against the module and the simulated
// instrument. Every program runs three ways: tuned above the instrument's
// 100 MHz, with the cable pulled and put back while it streams, and stopped
// while the instrument is away. A sequence fails when a call throws where
// the program catches nothing, when a read or the stop takes long (a program
// that waits for it freezes), or when the stream does not deliver again.
#include "program_sequences.h"

#include "plugin/tuning.h"

#include <algorithm>

namespace zef::test {
namespace {

enum class Disturbance { AboveRange, Unplugged, StoppedWhileAway };

struct Replay {
    const Program* program;
    Disturbance disturbance;
};

void PrintTo(const Replay& replay, std::ostream* out) {
    *out << replay.program->name;
}

// The local-oscillator word of the last settings frame the instrument took.
std::uint32_t instrumentLoWord() {
    std::uint8_t frame[65] = {};
    zefsim_last_settings(frame);
    std::uint32_t word = 0;
    for (int i = 16; i >= 13; --i) {
        word = word << 8U | frame[i];
    }
    return word;
}

bool instrumentTunedTo(double hz) {
    const auto word = static_cast<std::uint32_t>(TuningWord(static_cast<std::int32_t>(hz)));
    return waitUntil([word] { return instrumentLoWord() == word; });
}

class ProgramSequence : public testing::TestWithParam<Replay> {
  protected:
    void SetUp() override {
        zefsim_reset();
        zefsim_add_device("ZEF418", kLocation, 0, 0);
    }

    // Runs one step of the program; false when it threw.
    bool step(const char* what, const std::function<void()>& call) {
        try {
            call();
            return true;
        } catch (const std::exception& error) {
            ADD_FAILURE() << GetParam().program->name << " catches nothing at its " << what
                          << ", and the module threw: " << error.what();
            return false;
        }
    }
};

constexpr std::uint64_t kSecondOfSamples = 65104;

TEST_P(ProgramSequence, RunsWithoutThrowingHangingOrLosingItsStream) {
    const Program& program = *GetParam().program;
    const Disturbance disturbance = GetParam().disturbance;
    Session s;
    s.frequency = disturbance == Disturbance::AboveRange ? 145e6 : 7.05e6;
    if (!step("start-up", [&] { program.startUp(s); }) || HasFatalFailure()) {
        return;
    }
    if (program.tune) {
        const double tuned = std::min(s.frequency, 100e6);
        EXPECT_EQ(s.device->getFrequency(SOAPY_SDR_RX, 0), tuned) << "reads back what was set";
        EXPECT_TRUE(instrumentTunedTo(tuned));
    }

    Reader reader;
    if (program.read) {
        reader.start(program.read, s);
        ASSERT_TRUE(waitUntil([&] { return reader.samples() >= kSecondOfSamples / 4; }))
            << "streams";
    }
    const std::uint64_t before = reader.samples();
    if (disturbance == Disturbance::AboveRange && program.tune) {
        step("tune", [&] { program.tune(s, 433.92e6); });
        EXPECT_TRUE(instrumentTunedTo(100e6));
    } else if (disturbance != Disturbance::AboveRange) {
        zefsim_unplug(0);
        if (program.read) {
            EXPECT_TRUE(waitUntil([&] { return reader.errors() > 0; })) << "told it is lost";
        } else {
            step("probe while the instrument is away", [&] { probe(*s.device); });
        }
        if (program.tune) {
            step("tune while the instrument is away", [&] { program.tune(s, 14.2e6); });
        }
    }
    if (disturbance == Disturbance::Unplugged) {
        zefsim_replug(0);
        if (program.read) {
            EXPECT_TRUE(waitUntil([&] { return reader.samples() >= before + kSecondOfSamples / 4; },
                                  std::chrono::seconds(20)))
                << "streams again after the replug, by itself";
            EXPECT_TRUE(instrumentTunedTo(14.2e6)) << "with the tuning sent again";
        }
    } else if (disturbance == Disturbance::AboveRange && program.read) {
        EXPECT_TRUE(waitUntil([&] { return reader.samples() >= before + kSecondOfSamples / 4; }))
            << "streams on";
    }

    const auto stopping = Clock::now();
    step("stop", [&] { program.stop(s, reader); });
    reader.join();
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(2)) << "stops at once";
    EXPECT_EQ(reader.failure(), "") << "the module threw in its read loop";
    EXPECT_LT(reader.longestMs(), 2000) << "a read that long freezes a program that waits for it";
    if (disturbance == Disturbance::StoppedWhileAway) {
        zefsim_replug(0);
    }
    EXPECT_EQ(simCounters().closed_handle_calls, 0U);
}

const Program* const kPrograms[] = {&kCubicSdr, &kSdrPlusPlus,       &kGqrx,
                                    &kGnuRadio, &kSoapyRemoteServer, &kProbe};

std::vector<Replay> replays() {
    std::vector<Replay> all;
    for (const Program* program : kPrograms) {
        for (Disturbance d :
             {Disturbance::AboveRange, Disturbance::Unplugged, Disturbance::StoppedWhileAway}) {
            all.push_back({program, d});
        }
    }
    return all;
}

std::string replayName(const testing::TestParamInfo<Replay>& info) {
    const char* const kinds[] = {"AboveRange", "Unplugged", "StoppedWhileAway"};
    return std::string(info.param.program->id) + "_" +
           kinds[static_cast<int>(info.param.disturbance)];
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramSequence, testing::ValuesIn(replays()), replayName);
} // namespace
} // namespace zef::test

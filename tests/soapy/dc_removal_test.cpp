// Automatic DC removal (soapy/DcBlocker.hpp) on the stream, measured on the
// simulated instrument's carrier.
#include "soapy_fixture.h"

#include <SoapySDR/Formats.hpp>

#include <cmath>
#include <complex>

namespace zef::test {
namespace {

// Mean and RMS of `pairs` I/Q pairs read as they come, in counts.
struct Level {
    std::complex<double> mean;
    double rms = 0;
};

// Automatic DC removal, as gr-soapy's "DC removal" and CubicSDR turn it on:
// a carrier on the LO (pure DC here: 6.25 MHz has an exact tuning word) is
// taken away, a carrier 1 kHz off passes at its full level.
TEST_F(SoapyInstrument, DcRemovalTakesTheOffsetAndLeavesTheCarrier) {
    constexpr double kLo = 6.25e6;
    constexpr double kAmplitude = 8000;
    SoapySDR::Device& device = open();
    ASSERT_TRUE(device.hasDCOffsetMode(SOAPY_SDR_RX, 0));
    zefsim_set_signal(ZEFSIM_SIGNAL, kLo, kAmplitude);
    zefsim_set_timing(ZEFSIM_REALTIME);
    for (const char* format : {SOAPY_SDR_CS16, SOAPY_SDR_CF32}) {
        SCOPED_TRACE(format);
        const bool floats = std::string(format) == SOAPY_SDR_CF32;
        device.setDCOffsetMode(SOAPY_SDR_RX, 0, false);
        device.setFrequency(SOAPY_SDR_RX, 0, kLo);
        SoapySDR::Stream* stream = device.setupStream(SOAPY_SDR_RX, format, {0}, {});
        ASSERT_EQ(device.activateStream(stream), 0);
        const auto measure = [&](std::size_t pairs) {
            std::vector<float> samples(1024);
            void* buffs[] = {samples.data()};
            std::complex<double> sum;
            double power = 0;
            for (std::size_t done = 0; done < pairs;) {
                int flags = 0;
                long long timeNs = 0;
                const int got = device.readStream(stream, buffs, 512, flags, timeNs, 2000000);
                EXPECT_GT(got, 0);
                for (std::size_t i = 0; got > 0 && i < static_cast<std::size_t>(got); ++i) {
                    const auto* counts = reinterpret_cast<const std::int16_t*>(samples.data());
                    const std::complex<double> x =
                        floats ? std::complex<double>(samples[2 * i], samples[2 * i + 1]) * 32768.0
                               : std::complex<double>(counts[2 * i], counts[2 * i + 1]);
                    sum += x;
                    power += std::norm(x);
                }
                done += got > 0 ? static_cast<std::size_t>(got) : pairs;
            }
            return Level{sum / static_cast<double>(pairs),
                         std::sqrt(power / static_cast<double>(pairs))};
        };
        measure(8192); // what the instrument sent before this set-up
        const Level off = measure(16384);
        EXPECT_GT(std::abs(off.mean), 0.9 * kAmplitude) << "the carrier on the LO is DC";
        device.setDCOffsetMode(SOAPY_SDR_RX, 0, true);
        EXPECT_TRUE(device.getDCOffsetMode(SOAPY_SDR_RX, 0));
        const Level on = measure(16384);
        EXPECT_LT(std::abs(on.mean), 0.01 * kAmplitude) << "taken away from the first sample";
        EXPECT_LT(on.rms, 0.05 * kAmplitude);

        const std::uint64_t frames = simCounters().settings_received;
        device.setFrequency(SOAPY_SDR_RX, 0, kLo - 1000); // the carrier 1 kHz above the LO
        ASSERT_TRUE(waitUntil([&] { return simCounters().settings_received > frames; }));
        measure(8192); // the blocks on their way before the retune
        const Level carrier = measure(16384);
        EXPECT_NEAR(carrier.rms, off.rms, 0.02 * off.rms) << "a carrier off centre passes";
        EXPECT_LT(std::abs(carrier.mean), 0.01 * kAmplitude);
        ASSERT_EQ(device.deactivateStream(stream), 0);
        device.closeStream(stream);
    }
}

} // namespace
} // namespace zef::test

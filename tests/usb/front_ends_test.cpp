// zef-host and the SoapySDR module on the open driver, through the real
// libftdi1 and libusb, against an FT232H-like bridge emulated at usbdevfs:
// high speed, so the gateware loads at the pins' pace (the full-speed bus's
// 4.4 s is the wire test's, in zefd2xx_test.cpp).
#include "carrier_checks.h"
#include "run_host.h"
#include "usb_testbed.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Formats.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using namespace zef::usbtest; // NOLINT(google-build-using-namespace)
using zef::test::HostRun;
using zef::test::ScratchDir;

class FrontEnds : public testing::Test {
  protected:
    void SetUp() override {
        if (!underUmockdev()) {
            GTEST_SKIP() << "runs under umockdev's preload library only";
        }
    }
    UsbTestbed bed;
};

TEST_F(FrontEnds, ZefHostRecordsFiveSecondsWithTheCarrierAtPlusOneKilohertz) {
    EmulatedBridge& zef418 = bed.plug(1, 2, "ZEF418", kFt232h);
    ScratchDir dir;
    setenv("ZEF_D2XX", "zef", 1); // the open driver beside zef-host and the plug-in
    const HostRun run = zef::test::runHost(
        dir, {"--driver", "system", "--lo", "7050000", "--seconds", "5", "-q", "--timeout", "20",
              "-o", dir.file("rec.raw"), "--summary-json", dir.file("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto summary = zef::test::readJson(dir.file("summary.json"));
    EXPECT_EQ(summary["samples"].get<std::uint64_t>(), 325520U);
    EXPECT_EQ(summary["samples_dropped"].get<std::uint64_t>(), 0U);
    EXPECT_NEAR(summary["peak_offset_hz"].get<double>(), 1000.0, 2.0);
    EXPECT_NE(summary["driver_library"].get<std::string>().find("/zefd2xx/libzefd2xx.so"),
              std::string::npos);
    const std::vector<std::complex<double>> samples = readIq(dir.file("rec.raw"));
    ASSERT_EQ(samples.size(), 325520U);
    EXPECT_LT(worstPhaseStep(samples, 1000.0), 0.2)
        << "no block lost or damaged; the gateware dropped " << zef418.with([](BridgeChannel& b) {
               return b.environment().counters.sample_frames_overrun;
           })
        << " frames";
    EXPECT_GE(zef418.with([](BridgeChannel& b) { return b.wire().inTransfers; }), 300U);
}

class Stream {
  public:
    explicit Stream(SoapySDR::Device& device) : device_(device) {
        stream_ = device.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS16, {0});
        device.activateStream(stream_);
    }
    ~Stream() {
        device_.deactivateStream(stream_);
        device_.closeStream(stream_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Reads until `samples` arrived or the time ran out; counts the errors.
    bool receive(std::size_t samples, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::size_t got = 0;
        while (got < samples && std::chrono::steady_clock::now() < deadline) {
            void* buffers[] = {buffer_.data()};
            int flags = 0;
            long long timeNs = 0;
            const int n = device_.readStream(stream_, buffers, 512, flags, timeNs, 100000);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n == SOAPY_SDR_STREAM_ERROR) {
                ++errors;
            }
        }
        return got >= samples;
    }
    std::size_t errors = 0;

  private:
    SoapySDR::Device& device_;
    SoapySDR::Stream* stream_ = nullptr;
    std::vector<std::int16_t> buffer_ = std::vector<std::int16_t>(1024);
};

TEST_F(FrontEnds, SoapyModuleStreamsAndResumesByItselfAfterAReplug) {
    EmulatedBridge& first = bed.plug(1, 2, "ZEF418", kFt232h);
    EmulatedBridge& foreign = bed.plug(1, 1, "USB <-> Serial");
    SoapySDR::Device* device = SoapySDR::Device::make("driver=zef,d2xx=" ZEFD2XX_PATH);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->getHardwareInfo().at("driver_library"), ZEFD2XX_PATH);
    {
        Stream stream(*device);
        ASSERT_TRUE(stream.receive(20 * 512, std::chrono::seconds(5)));
        bed.remove(first);
        for (int second = 0; second < 5 && stream.errors == 0; ++second) {
            stream.receive(512, std::chrono::seconds(1));
        }
        EXPECT_GT(stream.errors, 0U) << "the pulled cable shows";
        bed.plug(1, 2, "ZEF418", kFt232h);
        EXPECT_TRUE(stream.receive(20 * 512, std::chrono::seconds(15)))
            << "samples resume after the replug";
    }
    SoapySDR::Device::unmake(device);
    EXPECT_EQ(foreign.claims(), 0U) << "a foreign bridge is never opened";
}

} // namespace

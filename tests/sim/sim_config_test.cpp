// The simulator's configuration file: what each line sets, and that a bad
// line is named and skipped while the rest applies.
#include "sim/device_frames.h"
#include "sim/sim_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zef::sim {
namespace {

SimConfig parse(const std::string& text, std::vector<std::string>& messages) {
    return parseSimConfig(text, "zefsim.conf", messages);
}

TEST(SimConfigFile, EmptyFileKeepsTheDefaultInstrument) {
    std::vector<std::string> messages;
    const SimConfig config = parse("# nothing\n\n", messages);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(config.devices.size(), 1U);
    EXPECT_EQ(config.devices[0].description, "ZEF418");
    EXPECT_EQ(config.devices[0].location, 0x2101U);
    EXPECT_EQ(config.timing, ZEFSIM_REALTIME);
    EXPECT_EQ(config.signal, ZEFSIM_SIGNAL);
    EXPECT_TRUE(config.carrierFollowsLo);
    EXPECT_EQ(config.carrierHz, 1000.0);
}

TEST(SimConfigFile, EverySettingOnce) {
    const std::string zeros62(124, '0');
    std::vector<std::string> messages;
    const SimConfig config = parse("device = Digital Oscilloscope KR27xx @ 0x11 cts\n"
                                   "device = ZEF418 @ 4660 held   # in use elsewhere\n"
                                   "timing = fast\n"
                                   "signal = pattern\n"
                                   "carrier = 7.051M\n"
                                   "amplitude = 100\n"
                                   "model = 0x0302\n"
                                   "calibration_a = " +
                                       zeros62 +
                                       "\n"
                                       "corrupt_rate = 0.25\n"
                                       "fail_writes = 3\n"
                                       "never_ack = yes\n"
                                       "gateware_startup_ms = 150\n"
                                       "transfer_size = 16384\n"
                                       "receive_capacity = 65536\n",
                                   messages);
    EXPECT_TRUE(messages.empty()) << messages.front();
    ASSERT_EQ(config.devices.size(), 2U);
    EXPECT_EQ(config.devices[0].description, "Digital Oscilloscope KR27xx");
    EXPECT_EQ(config.devices[0].location, 0x11U);
    EXPECT_TRUE(config.devices[0].cts);
    EXPECT_FALSE(config.devices[0].held);
    EXPECT_EQ(config.devices[1].location, 4660U);
    EXPECT_TRUE(config.devices[1].held);
    EXPECT_EQ(config.timing, ZEFSIM_FAST);
    EXPECT_EQ(config.signal, ZEFSIM_TEST_PATTERN);
    EXPECT_EQ(config.carrierHz, 7051000.0);
    EXPECT_FALSE(config.carrierFollowsLo) << "unsigned: a fixed frequency";
    EXPECT_EQ(config.amplitude, 100.0);
    EXPECT_EQ(config.model, 0x0302);
    ASSERT_TRUE(config.calibrationA.has_value());
    EXPECT_EQ(crc16::compute(std::span<const std::uint8_t>(*config.calibrationA)), 0U)
        << "62 bytes get their CRC";
    EXPECT_FALSE(config.calibrationB.has_value());
    const std::vector<std::pair<int, double>> faults = {
        {ZEFSIM_CORRUPT_RATE, 0.25}, {ZEFSIM_FAIL_WRITES, 3.0}, {ZEFSIM_NEVER_ACK, 1.0}};
    EXPECT_EQ(config.faults, faults);
    EXPECT_EQ(config.gatewareStartupMs, 150U);
    EXPECT_EQ(config.transferBytes, 16384U);
    EXPECT_EQ(config.receiveCapacity, 65536U);
}

TEST(SimConfigFile, BadLinesAreNamedAndSkipped) {
    const struct {
        const char* line;
        const char* problem;
    } cases[] = {
        {"carier = +1000", "unknown setting \"carier\""},
        {"\x1b[2Jx = 1", "unknown setting \"?[2Jx\""},
        {"timing realtime", "expected key = value"},
        {"timing = slow", "expected realtime or fast"},
        {"amplitude = 40000", "expected counts from 0 to 32767"},
        {"carrier = 1 GHz", "expected a frequency"},
        {"device = ZEF418 @ nowhere", "expected DESCRIPTION"},
        {"model = 70000", "expected a number from 0 to 65535"},
        {"calibration_b = 0102", "expected 62 or 64 bytes in hex"},
        {"drop_rate = 2", "expected a probability"},
        {"never_ready = maybe", "expected yes or no"},
        {"write_limit = -1", "expected a whole number"},
        {"signal =", "no value"},
        {"gateware_startup_ms = 60001", "expected milliseconds from 0 to 60000"},
        {"transfer_size = 4000", "expected a multiple of 64 from 64 to 65536"},
        {"transfer_size = 131072", "expected a multiple of 64"},
        {"receive_capacity = 1000", "expected bytes from 4096 to 67108864"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> messages;
        const SimConfig config =
            parse(std::string("carrier = -250\n") + c.line + "\nfast = 1\n", messages);
        ASSERT_EQ(messages.size(), 2U) << c.line;
        EXPECT_EQ(messages[0].rfind("zefsim: zefsim.conf:2: ", 0), 0U) << messages[0];
        EXPECT_NE(messages[0].find(c.problem), std::string::npos) << messages[0];
        EXPECT_NE(messages[0].find("line ignored"), std::string::npos) << messages[0];
        EXPECT_EQ(messages[1].rfind("zefsim: zefsim.conf:3: ", 0), 0U) << messages[1];
        EXPECT_EQ(config.carrierHz, -250.0) << "the good line still applies";
        EXPECT_TRUE(config.carrierFollowsLo);
        EXPECT_EQ(config.devices.size(), 1U);
    }
}

TEST(SimConfigFile, DeviceNoneListsNothing) {
    std::vector<std::string> messages;
    EXPECT_TRUE(parse("device = none\n", messages).devices.empty());
}

} // namespace
} // namespace zef::sim

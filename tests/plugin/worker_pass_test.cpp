// The worker loop's order of jobs, with jobs that only log.
#include "main_thread/extio_thread.h"
#include "plugin/device_state.h"
#include "usb_func/open_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> jobLog;
bool raiseSettingsAgain = false;

void logWait(std::uint32_t ms) {
    jobLog.push_back("wait " + std::to_string(ms));
}
bool logConfigure(const zef::platform::Thread& /*worker*/) {
    jobLog.emplace_back("configure");
    return true;
}
void logSettings(const zef::platform::Thread& /*worker*/) {
    jobLog.emplace_back("settings");
    if (raiseSettingsAgain) {
        zef::deviceState.settingsChanged.store(true); // a host retuning all the time
    }
}
void logParse(const zef::platform::Thread& /*worker*/) {
    jobLog.emplace_back("parse");
}

constexpr zef::WorkerJobs kLoggingJobs = {&logWait, &logConfigure, &logSettings, &logParse};

class IdleThread : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

class WorkerPass : public testing::Test {
  protected:
    void SetUp() override {
        jobLog.clear();
        raiseSettingsAgain = false;
        zef::DeviceState& state = zef::deviceState;
        state.configNeeded = false;
        state.deviceReady = true;
        state.settingsChanged = false;
        state.bridgeLibrary = false;
        static int target = 0;
        zef::adoptOpenHandle(&state.deviceHandle, &target);
    }
    std::vector<std::string> passes(int count) {
        for (int i = 0; i < count; ++i) {
            zef::workerPass(thread_, kLoggingJobs, abandoned_);
        }
        return jobLog;
    }
    IdleThread thread_;
    bool abandoned_ = false;
};

using Log = std::vector<std::string>;

TEST_F(WorkerPass, APendingLoadRunsWithoutWaitingFirst) {
    zef::deviceState.configNeeded = true;
    zef::deviceState.settingsChanged = true;
    EXPECT_EQ(passes(3), (Log{"configure", "wait 40", "settings", "wait 40", "parse"}));
}

TEST_F(WorkerPass, ASettingsFrameRaisedOnEveryPassKeepsTheParserOut) {
    zef::deviceState.settingsChanged = true;
    raiseSettingsAgain = true;
    EXPECT_EQ(passes(3),
              (Log{"wait 40", "settings", "wait 40", "settings", "wait 40", "settings"}));
    raiseSettingsAgain = false;
    jobLog.clear();
    EXPECT_EQ(passes(2), (Log{"wait 40", "settings", "wait 40", "parse"}));
}

TEST_F(WorkerPass, IdlesWhileNotReadyOrWithNoDeviceOpen) {
    zef::deviceState.settingsChanged = true;
    zef::deviceState.deviceReady = false;
    EXPECT_EQ(passes(1), (Log{"wait 40"}));
    zef::deviceState.deviceReady = true;
    zef::deviceState.bridgeLibrary = true;
    zef::CloseDevice(&zef::deviceState.deviceHandle); // an unbound FT_Close only fails
    EXPECT_EQ(passes(2), (Log{"wait 40", "wait 4", "wait 4"}));
    EXPECT_TRUE(zef::deviceState.settingsChanged.load()) << "kept for the next open";
}

} // namespace

// The worker loop's order of jobs, with jobs that only log: within a pass,
// across a reopen in the middle of a job, and up to a terminate request.
#include "main_thread/extio_thread.h"
#include "plugin/device_state.h"
#include "usb_func/open_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> jobLog;
bool raiseSettingsAgain = false;
// A job that logs this reopens the device the way OpenDevice does.
std::string reopenDuring;
// The log entry after which the loop is asked to terminate (CloseHW).
std::size_t terminateAfter = 0;
zef::platform::Thread* loopThread = nullptr;

void note(const std::string& entry) {
    jobLog.push_back(entry);
    if (entry == reopenDuring) {
        static int next = 0;
        zef::deviceState.deviceReady = false;
        zef::deviceState.configNeeded = true;
        zef::adoptOpenHandle(&zef::deviceState.deviceHandle, &next);
    }
    if (jobLog.size() == terminateAfter) {
        loopThread->requestTerminate();
    }
}

void logWait(std::uint32_t ms) {
    note("wait " + std::to_string(ms));
}
bool logConfigure(const zef::platform::Thread& /*worker*/) {
    note("configure");
    return true;
}
void logSettings(const zef::platform::Thread& /*worker*/) {
    note("settings");
    if (raiseSettingsAgain) {
        zef::deviceState.settingsChanged.store(true); // a host retuning all the time
    }
}
void logParse(const zef::platform::Thread& /*worker*/) {
    note("parse");
}

constexpr zef::WorkerJobs kLoggingJobs = {&logWait, &logConfigure, &logSettings, &logParse,
                                          nullptr};

class IdleThread : public zef::platform::Thread {
  protected:
    void runLoop() override {}
};

class WorkerPass : public testing::Test {
  protected:
    void SetUp() override {
        jobLog.clear();
        raiseSettingsAgain = false;
        reopenDuring.clear();
        terminateAfter = 0;
        loopThread = &thread_;
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

// Nothing goes to the new device, and nothing waits, before its load; the
// load itself may be the job that is interrupted.
TEST_F(WorkerPass, AReopenInTheMiddleOfAJobLoadsNextWithoutWaiting) {
    zef::deviceState.settingsChanged = true;
    reopenDuring = "settings";
    EXPECT_EQ(passes(3), (Log{"wait 40", "settings", "configure", "wait 40"}));
    jobLog.clear();
    reopenDuring = "configure";
    zef::deviceState.configNeeded = true;
    EXPECT_EQ(passes(2), (Log{"configure", "configure"}));
}

// CloseHW wakes the worker: the wait it was in is its last step.
TEST_F(WorkerPass, ATerminateRequestEndsTheLoopWithoutAnotherJob) {
    zef::deviceState.settingsChanged = true;
    terminateAfter = 1;
    zef::workerLoop(thread_, kLoggingJobs);
    EXPECT_EQ(jobLog, (Log{"wait 40"}));
    jobLog.clear();
    thread_.cancelTerminate();
    zef::deviceState.configNeeded = true;
    terminateAfter = 1;
    zef::workerLoop(thread_, kLoggingJobs);
    EXPECT_EQ(jobLog, (Log{"configure"})) << "no pass after the job it was asked in";
}

} // namespace

// The plug-in as a host sees it, with no D2XX driver on the machine.
#include "plugin_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

using zef::test::PluginLibrary;

TEST(Boundary, ConstantsAndDefaults) {
    PluginLibrary plugin(ZEF_PLUGIN_PATH);
    EXPECT_EQ(plugin->GetHWLO(), 0) << "before InitHW";
    EXPECT_EQ(plugin->GetHWSR(), 65104);
    EXPECT_TRUE(plugin->OpenHW());
    EXPECT_EQ(plugin->GetStatus(), 0);

    char name[64];
    char model[64];
    std::memset(name, 'x', sizeof name);
    std::memset(model, 'x', sizeof model);
    int type = 0;
    EXPECT_TRUE(plugin->InitHW(name, model, &type)) << "true even without a device";
    EXPECT_STREQ(name, "ZEF418 v3.02");
    EXPECT_STREQ(model, "3.xx");
    EXPECT_EQ(type, 3);
    EXPECT_EQ(plugin->GetHWLO(), 7050000);
    EXPECT_EQ(plugin->StartHW(7100000), 512) << "512 whatever the link does";
    EXPECT_EQ(plugin->GetHWLO(), 7100000);
    EXPECT_EQ(plugin->SetHWLO(14200000), 0);
    EXPECT_EQ(plugin->GetHWLO(), 14200000);
    plugin->StopHW();
    plugin->CloseHW();
}

TEST(Boundary, StartBeforeInitStillReturnsTheBlockSize) {
    PluginLibrary plugin(ZEF_PLUGIN_PATH);
    EXPECT_EQ(plugin->StartHW(7050000), 512);
    EXPECT_EQ(plugin->GetHWLO(), 7050000);
}

TEST(Boundary, AnyCallOrderIsHarmless) {
    PluginLibrary plugin(ZEF_PLUGIN_PATH);
    plugin->HideGUI();
    plugin->StopHW();
    plugin->CloseHW();
    plugin->CloseHW();
    plugin->ShowGUI();
    plugin->RawDataReady(65104, nullptr, nullptr, 0);
    plugin->IFLimitsChanged(-1, 1);
    plugin->SetCallback(nullptr);
    plugin->TuneChanged(7050000);
    plugin->ModeChanged('U');
    EXPECT_TRUE(plugin->InitHW(nullptr, nullptr, nullptr));
    EXPECT_EQ(plugin->StartHW(0), 512);
    plugin->CloseHW();
    EXPECT_TRUE(plugin->InitHW(nullptr, nullptr, nullptr)) << "InitHW again after CloseHW";
    plugin->CloseHW();
}

TEST(Boundary, LoadAndUnloadManyTimes) {
    for (int round = 0; round < 100; ++round) {
        PluginLibrary plugin(ZEF_PLUGIN_PATH);
        int type = 0;
        ASSERT_TRUE(plugin->InitHW(nullptr, nullptr, &type));
        ASSERT_EQ(plugin->StartHW(7050000), 512);
        plugin->StopHW();
        if (round % 2 == 0) {
            plugin->CloseHW();
        }
    }
}

#if !defined(_WIN32)
// Exactly the sixteen ExtIO names leave the library.
TEST(Boundary, ExportsExactlyTheSixteenFunctions) {
    const std::string command = std::string("nm -D --defined-only ") + ZEF_PLUGIN_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64];
        char kind[8];
        char name[256];
        if (std::sscanf(line, "%63s %7s %255s", address, kind, name) == 3) {
            exported.insert(name);
        }
    }
    ASSERT_EQ(pclose(pipe), 0);
    const std::set<std::string> expected = {
        "InitHW",      "OpenHW",  "StartHW", "GetStatus",       "StopHW",      "CloseHW",
        "SetHWLO",     "GetHWLO", "GetHWSR", "IFLimitsChanged", "TuneChanged", "ModeChanged",
        "SetCallback", "ShowGUI", "HideGUI", "RawDataReady"};
    EXPECT_EQ(exported, expected);
}
#endif

} // namespace

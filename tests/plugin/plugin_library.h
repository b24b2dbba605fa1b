// The built plug-in, loaded the way a host loads it: by path, every export
// resolved by name.
#pragma once

#include "platform/platform.h"
#include "plugin/extio_api.h"

#include <stdexcept>
#include <string>

namespace zef::test {

struct PluginLibrary {
    platform::Library handle = nullptr;
    decltype(&::InitHW) InitHW = nullptr;
    decltype(&::OpenHW) OpenHW = nullptr;
    decltype(&::StartHW) StartHW = nullptr;
    decltype(&::GetStatus) GetStatus = nullptr;
    decltype(&::StopHW) StopHW = nullptr;
    decltype(&::CloseHW) CloseHW = nullptr;
    decltype(&::SetHWLO) SetHWLO = nullptr;
    decltype(&::GetHWLO) GetHWLO = nullptr;
    decltype(&::GetHWSR) GetHWSR = nullptr;
    decltype(&::IFLimitsChanged) IFLimitsChanged = nullptr;
    decltype(&::TuneChanged) TuneChanged = nullptr;
    decltype(&::ModeChanged) ModeChanged = nullptr;
    decltype(&::SetCallback) SetCallback = nullptr;
    decltype(&::ShowGUI) ShowGUI = nullptr;
    decltype(&::HideGUI) HideGUI = nullptr;
    decltype(&::RawDataReady) RawDataReady = nullptr;

    explicit PluginLibrary(const char* path) : handle(platform::loadLibrary(path)) {
        if (handle == nullptr) {
            throw std::runtime_error(std::string("cannot load ") + path);
        }
        bind(InitHW, "InitHW");
        bind(OpenHW, "OpenHW");
        bind(StartHW, "StartHW");
        bind(GetStatus, "GetStatus");
        bind(StopHW, "StopHW");
        bind(CloseHW, "CloseHW");
        bind(SetHWLO, "SetHWLO");
        bind(GetHWLO, "GetHWLO");
        bind(GetHWSR, "GetHWSR");
        bind(IFLimitsChanged, "IFLimitsChanged");
        bind(TuneChanged, "TuneChanged");
        bind(ModeChanged, "ModeChanged");
        bind(SetCallback, "SetCallback");
        bind(ShowGUI, "ShowGUI");
        bind(HideGUI, "HideGUI");
        bind(RawDataReady, "RawDataReady");
    }
    ~PluginLibrary() { platform::freeLibrary(handle); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

  private:
    template <typename Function> void bind(Function& function, const char* name) {
        void* address = platform::findSymbol(handle, name);
        if (address == nullptr) {
            throw std::runtime_error(std::string("missing export ") + name);
        }
        function = reinterpret_cast<Function>(address);
    }
};

} // namespace zef::test

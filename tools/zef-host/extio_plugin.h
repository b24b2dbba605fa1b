// An ExtIO plug-in loaded by path with its sixteen exports resolved by name,
// as hosts do with LoadLibrary/GetProcAddress.
#pragma once

#include "platform/platform.h"
#include "plugin/extio_api.h"

#include <string>

namespace zef::host {

struct ExtioExports {
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
};

class ExtioPlugin {
  public:
    ExtioPlugin() = default;
    ~ExtioPlugin() { unload(); }
    ExtioPlugin(const ExtioPlugin&) = delete;
    ExtioPlugin& operator=(const ExtioPlugin&) = delete;

    // Loads the library and resolves every export. On failure `error` names
    // the file and the reason, or every export that is missing; nothing stays
    // loaded.
    bool load(const std::string& path, std::string& error);
    void unload();

    [[nodiscard]] const ExtioExports& call() const { return exports_; }

  private:
    platform::Library library_ = nullptr;
    ExtioExports exports_;
};

} // namespace zef::host

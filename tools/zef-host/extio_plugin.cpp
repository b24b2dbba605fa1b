#include "extio_plugin.h"

#include "system_services.h"

#include <filesystem>

namespace zef::host {

namespace {

template <typename Function>
void resolve(platform::Library library, Function& function, const char* name,
             std::string& missing) {
    void* address = platform::findSymbol(library, name);
    if (address == nullptr) {
        missing += missing.empty() ? name : std::string(", ") + name;
    }
    // Exports are looked up as data pointers and called as what the ExtIO
    // interface says they are.
    function = reinterpret_cast<Function>(address);
}

} // namespace

bool ExtioPlugin::load(const std::string& path, std::string& error) {
    unload();
    if (!std::filesystem::exists(pathFromNative(path))) {
        error = "no ExtIO plug-in at " + path;
        return false;
    }
    library_ = platform::loadLibrary(path.c_str());
    if (library_ == nullptr) {
        const std::string reason = libraryLoadError();
        error = "cannot load the ExtIO plug-in " + path + ": " + reason;
        return false;
    }
    std::string missing;
    ExtioExports& e = exports_;
    resolve(library_, e.InitHW, "InitHW", missing);
    resolve(library_, e.OpenHW, "OpenHW", missing);
    resolve(library_, e.StartHW, "StartHW", missing);
    resolve(library_, e.GetStatus, "GetStatus", missing);
    resolve(library_, e.StopHW, "StopHW", missing);
    resolve(library_, e.CloseHW, "CloseHW", missing);
    resolve(library_, e.SetHWLO, "SetHWLO", missing);
    resolve(library_, e.GetHWLO, "GetHWLO", missing);
    resolve(library_, e.GetHWSR, "GetHWSR", missing);
    resolve(library_, e.IFLimitsChanged, "IFLimitsChanged", missing);
    resolve(library_, e.TuneChanged, "TuneChanged", missing);
    resolve(library_, e.ModeChanged, "ModeChanged", missing);
    resolve(library_, e.SetCallback, "SetCallback", missing);
    resolve(library_, e.ShowGUI, "ShowGUI", missing);
    resolve(library_, e.HideGUI, "HideGUI", missing);
    resolve(library_, e.RawDataReady, "RawDataReady", missing);
    if (!missing.empty()) {
        error = path + " is not a complete ExtIO plug-in: missing export(s) " + missing;
        unload();
        return false;
    }
    return true;
}

void ExtioPlugin::unload() {
    platform::freeLibrary(library_);
    library_ = nullptr;
    exports_ = {};
}

} // namespace zef::host

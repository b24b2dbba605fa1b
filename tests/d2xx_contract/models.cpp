// The models: the simulated driver (plain and bridge library), and the open
// driver libzefd2xx and FTDI's own libftd2xx, each on an emulated FT232R-
// and FT2232H-like bridge under umockdev.
#include "d2xx_model.h"

#include "sim/zef_sim.h"
#include "usb_testbed.h"

#include <dlfcn.h>

#include <cstring>

namespace zef::contract {

namespace {

template <typename Function> bool bind(void* library, const std::string& name, Function& function) {
    void* address = dlsym(library, name.c_str());
    std::memcpy(&function, &address, sizeof function);
    return address != nullptr;
}

// The common entry points, and the extra ones where the library has them.
bool bindD2xx(void* library, const std::string& prefix, D2xx& d, std::string& why) {
    bool all = bind(library, prefix + "FT_CreateDeviceInfoList", d.CreateDeviceInfoList) &&
               bind(library, prefix + "FT_ListDevices", d.ListDevices) &&
               bind(library, prefix + "FT_OpenEx", d.OpenEx) &&
               bind(library, prefix + "FT_Close", d.Close) &&
               bind(library, prefix + "FT_Read", d.Read) &&
               bind(library, prefix + "FT_Write", d.Write) &&
               bind(library, prefix + "FT_GetQueueStatus", d.GetQueueStatus) &&
               bind(library, prefix + "FT_SetBaudRate", d.SetBaudRate) &&
               bind(library, prefix + "FT_SetTimeouts", d.SetTimeouts) &&
               bind(library, prefix + "FT_SetLatencyTimer", d.SetLatencyTimer) &&
               bind(library, prefix + "FT_SetBitMode", d.SetBitMode) &&
               bind(library, prefix + "FT_Purge", d.Purge) &&
               bind(library, prefix + "FT_StopInTask", d.StopInTask) &&
               bind(library, prefix + "FT_RestartInTask", d.RestartInTask);
    bind(library, prefix + "FT_SetEventNotification", d.SetEventNotification);
    bind(library, prefix + "FT_GetStatus", d.GetStatus);
    if (!all) {
        why = "the library lacks a common D2XX entry point";
    }
    return all;
}

constexpr std::uint32_t kSimLocation = 0x1234;
constexpr std::size_t kSimCapacity = std::size_t{256} << 10U;
// libzefd2xx's receive buffer (zefd2xx/receiver.h); FTDI does not publish
// its own, so 4 MiB bounds it.
constexpr std::size_t kZefd2xxCapacity = std::size_t{256} << 10U;
constexpr std::size_t kFtdiCapacity = std::size_t{4} << 20U;

class SimModel final : public Model {
  public:
    explicit SimModel(bool bridge) : bridge_(bridge) {}
    // The library stays loaded: each case runs in a process of its own.
    ~SimModel() override {
        if (reset_ != nullptr) {
            reset_();
        }
    }
    SimModel(const SimModel&) = delete;
    SimModel& operator=(const SimModel&) = delete;

    bool start(std::string& why) override {
        library_ = dlopen(bridge_ ? ZEFSIM_BRIDGE_PATH : ZEFSIM_PLAIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            why = dlerror();
            return false;
        }
        void (*addDevice)(const char*, std::uint32_t, int, int) = nullptr;
        void (*setTiming)(int) = nullptr;
        void (*setSignal)(int, double, double) = nullptr;
        void (*setCapacity)(std::uint32_t) = nullptr;
        if (!bind(library_, "zefsim_reset", reset_) ||
            !bind(library_, "zefsim_add_device", addDevice) ||
            !bind(library_, "zefsim_set_timing", setTiming) ||
            !bind(library_, "zefsim_set_signal", setSignal) ||
            !bind(library_, "zefsim_set_receive_capacity", setCapacity) ||
            !bind(library_, "zefsim_get_counters", counters_)) {
            why = "the simulator lacks its control interface";
            return false;
        }
        reset_();
        addDevice("ZEF418", kSimLocation, 0, 0);
        setTiming(ZEFSIM_REALTIME);
        setSignal(ZEFSIM_TEST_PATTERN, 0.0, 0.0);
        setCapacity(static_cast<std::uint32_t>(kSimCapacity));
        return bindD2xx(library_, bridge_ ? "lin_" : "", d2xx_, why);
    }
    [[nodiscard]] std::string description() const override { return "ZEF418"; }
    [[nodiscard]] bool onUsb() const override { return false; }
    DeviceCounts counts() override {
        zefsim_counters c{};
        counters_(&c);
        return {c.bytes_sent, c.sample_frames_sent, c.sample_frames_overrun, c.rx_transfers,
                c.bitbang_bytes};
    }
    bool held() override {
        zefsim_counters c{};
        counters_(&c);
        return c.opens > c.closes;
    }
    [[nodiscard]] std::uint64_t busBytesPerSecond() const override {
        return sim::kFullSpeedBus.bytesPerSecond();
    }
    [[nodiscard]] std::size_t receiveCapacity() const override { return kSimCapacity; }

  private:
    bool bridge_;
    void* library_ = nullptr;
    void (*reset_)() = nullptr;
    void (*counters_)(zefsim_counters*) = nullptr;
};

class UsbModel final : public Model {
  public:
    UsbModel(const char* library, const usbtest::BridgeModel& bridge)
        : libraryName_(library), bridgeModel_(bridge) {}
    ~UsbModel() override = default; // the library stays loaded, as above
    UsbModel(const UsbModel&) = delete;
    UsbModel& operator=(const UsbModel&) = delete;

    bool start(std::string& why) override {
        if (!usbtest::underUmockdev()) {
            why = "runs under umockdev's preload library only";
            return false;
        }
        bridge_ = &bed_.plug(1, 3, "ZEF418", bridgeModel_);
        bridge_->with([](usbtest::BridgeChannel& channel) {
            channel.environment().signal.kind = ZEFSIM_TEST_PATTERN;
        });
        library_ = dlopen(libraryName_, RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            why = std::string(libraryName_) + " is not installed here (" + dlerror() + ")";
            return false;
        }
        if (dlsym(library_, "zefsim_reset") != nullptr) {
            why = std::string(libraryName_) + " is the simulator here, not FTDI's library";
            return false;
        }
        return bindD2xx(library_, "", d2xx_, why);
    }
    [[nodiscard]] std::string description() const override {
        return bridgeModel_.channels > 1 ? "ZEF418 A" : "ZEF418";
    }
    [[nodiscard]] bool onUsb() const override { return true; }
    DeviceCounts counts() override {
        return bridge_->with([](usbtest::BridgeChannel& channel) {
            const zefsim_counters& c = channel.environment().counters;
            return DeviceCounts{c.bytes_sent, c.sample_frames_sent, c.sample_frames_overrun,
                                channel.wire().inTransfersWithData, c.bitbang_bytes};
        });
    }
    bool held() override { return bridge_->claimed(0); }
    [[nodiscard]] std::uint64_t busBytesPerSecond() const override {
        return bridgeModel_.bus->bytesPerSecond();
    }
    [[nodiscard]] std::size_t receiveCapacity() const override {
        return std::strstr(libraryName_, "zefd2xx") != nullptr ? kZefd2xxCapacity : kFtdiCapacity;
    }
    void plugOther(std::uint8_t bus, const std::vector<std::uint8_t>& ports,
                   const std::string& product, std::size_t channels) override {
        others_.push_back(
            &bed_.plug(bus, ports, product, channels > 1 ? usbtest::kFt2232h : usbtest::kFt232r));
    }
    bool otherHeld(std::size_t index, unsigned interface) override {
        return others_.at(index)->claimed(interface);
    }
    std::size_t otherUartBytes(std::size_t index, std::size_t channel) override {
        return others_.at(index)->withChannel(
            channel, [](usbtest::BridgeChannel& c) { return c.wire().uart.size(); });
    }

  private:
    const char* libraryName_;
    const usbtest::BridgeModel& bridgeModel_;
    usbtest::UsbTestbed bed_;
    usbtest::EmulatedBridge* bridge_ = nullptr;
    std::vector<usbtest::EmulatedBridge*> others_;
    void* library_ = nullptr;
};

} // namespace

std::unique_ptr<Model> makeModel(const std::string& name) {
    if (name == "sim_plain" || name == "sim_bridge") {
        return std::make_unique<SimModel>(name == "sim_bridge");
    }
    const bool high = name.ends_with("ft2232h");
    const usbtest::BridgeModel& bridge = high ? usbtest::kFt2232h : usbtest::kFt232r;
    return std::make_unique<UsbModel>(name.starts_with("zefd2xx") ? ZEFD2XX_PATH : "libftd2xx.so",
                                      bridge);
}

} // namespace zef::contract

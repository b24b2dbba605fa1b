// Opening and closing the instrument, with progress on the log and a failure
// message that says what to do, and what the device tells about itself.
#include "ZefDevice.hpp"

#include <SoapySDR/Logger.hpp>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <thread>

namespace zef::soapy {

namespace {

// The core's state is process-wide: one open device at a time.
std::atomic<bool> deviceOpen{false};

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message) {
    throw std::runtime_error("ZEF418: " + message);
}

std::string libraryFile() {
    const std::string file = instrument::state().libraryFile;
    return !file.empty() ? file : "the D2XX library";
}

// A d2xx argument chooses the library, as ZEF_D2XX does; the first binding
// in the process stays.
void chooseDriver(const std::string& choice) {
    if (!instrument::chooseDriver(choice)) {
        fail("d2xx=" + choice + " cannot be had: this process has bound " + libraryFile() +
             " already, and a D2XX library stays bound; open it from a new process");
    }
}

// Why the driver cannot be used, and what to do about it.
[[noreturn]] void failDriver(std::uint32_t status) {
    if (status == 100) {
        fail(instrument::describeStatus(status) +
             "; install the soapysdr0.8-module-zef package again for its open driver, or "
             "install FTDI's D2XX driver so that the dynamic loader finds libftd2xx.so");
    }
    if (status >= 110) {
        fail(instrument::describeStatus(status) +
             "; install a complete D2XX library from FTDI in its place");
    }
    fail("the D2XX driver cannot list devices: " + instrument::describeStatus(status) +
         "; unplug and replug the instrument, or reinstall FTDI's D2XX driver");
}

instrument::Listed chooseInstrument(const std::optional<std::uint32_t>& location) {
    const instrument::Listing listing = instrument::list();
    if (listing.status != 0) {
        failDriver(listing.status);
    }
    for (const instrument::Listed& listed : listing.instruments) {
        if (!location || listed.location == *location) {
            return listed;
        }
    }
    if (location && !listing.instruments.empty()) {
        fail("no instrument at location " + hexLocation(*location) + " (there is one at " +
             hexLocation(listing.instruments.front().location) +
             "); give a location that SoapySDRUtil --find=driver=zef shows");
    }
    fail("no instrument found: the driver lists " + std::to_string(listing.devices) +
         " device(s), none described \"ZEF418\" or \"Digital Oscilloscope KR27xx\"; plug the "
         "instrument in and check its USB cable");
}

[[noreturn]] void failOpen(std::uint32_t status, const instrument::Listed& chosen) {
    const std::string where = "the instrument at " + hexLocation(chosen.location);
    if (status == 100 || status >= 110) {
        failDriver(status);
    }
    if (status == 3) { // FT_DEVICE_NOT_OPENED: listed, but someone else has it
        fail(where + " is held by another program (" + instrument::describeStatus(status) +
             "); close the program that uses it (another SDR program or a SoapySDRServer), or "
             "free it from the kernel's serial driver with sudo rmmod ftdi_sio");
    }
    fail("could not open " + where + ": " + instrument::describeStatus(status) +
         "; unplug and replug it, then open it again");
}

std::string gatewareWords(const instrument::GatewareImage& image) {
    return std::to_string(image.bytes) + " bytes" +
           (image.placeholder ? ", the placeholder: it cannot bring up a real instrument" : "");
}

double milliseconds(std::uint64_t microseconds) {
    return static_cast<double>(microseconds) / 1000.0;
}

// Waits, within the open's time limit, until the load that open() started
// has reached `done`, and returns the state then.
template <typename Done>
std::optional<instrument::State> awaitGateware(std::uint32_t loadsBefore,
                                               Clock::time_point deadline, Done done) {
    for (;;) {
        const instrument::State now = instrument::state();
        if (now.gatewareLoads > loadsBefore && done(now.gateware)) {
            return now;
        }
        if (Clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

[[noreturn]] void failReady(std::chrono::milliseconds timeout) {
    const instrument::GatewareImage& image = instrument::gatewareImage();
    const std::string seconds = std::to_string(static_cast<double>(timeout.count()) / 1000.0);
    if (image.placeholder) {
        fail("the instrument did not report ready within " + seconds +
             " s: this build carries the placeholder gateware, which cannot bring up a real "
             "instrument; build with -DZEF_FPGA_IMAGE=<the instrument's gateware .bin>");
    }
    fail("the instrument did not report ready within " + seconds +
         " s of its gateware load; unplug and replug it, then open it again");
}

void loadGateware(std::uint32_t loadsBefore, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const auto sent = awaitGateware(loadsBefore, deadline, [](instrument::Gateware g) {
        return g != instrument::Gateware::Loading;
    });
    if (!sent) {
        failReady(timeout);
    }
    if (sent->gateware == instrument::Gateware::Failed) {
        fail("the gateware load failed: " + instrument::describeStatus(sent->driverStatus) +
             "; unplug and replug the instrument, then open it again");
    }
    SoapySDR::logf(SOAPY_SDR_INFO,
                   "ZEF418: gateware loaded in %.0f ms; waiting for the ready status",
                   milliseconds(sent->loadUs));
    const auto ended = awaitGateware(loadsBefore, deadline, [](instrument::Gateware g) {
        return g != instrument::Gateware::Loading && g != instrument::Gateware::AwaitingReady;
    });
    if (!ended || ended->gateware != instrument::Gateware::Ready) {
        failReady(timeout);
    }
    SoapySDR::logf(SOAPY_SDR_INFO, "ZEF418: instrument ready after %.0f ms",
                   milliseconds(ended->readyWaitUs));
}

// The first settings frame follows the ready status at once; waiting for it
// lets getHardwareInfo show its codes from the start. The limit is only for
// a machine so busy that the worker is late.
void awaitFirstSettings(std::uint64_t framesBefore) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (instrument::state().lastSettings.frames <= framesBefore) {
        if (Clock::now() > deadline) {
            SoapySDR::log(SOAPY_SDR_DEBUG, "ZEF418: no settings frame went out within 3 s of "
                                           "the ready status");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

SoapySDR::Kwargs openInstrument(const SoapySDR::Kwargs& args) {
    const DeviceArgs wanted = parseDeviceArgs(args);
    if (!wanted.error.empty()) {
        throw std::runtime_error(wanted.error);
    }
    for (const std::string& key : wanted.ignoredKeys) {
        SoapySDR::logf(SOAPY_SDR_DEBUG,
                       "ZEF418: device argument \"%s\" means nothing here; ignored", key.c_str());
    }
    const std::chrono::milliseconds timeout = wanted.readyTimeout;
    chooseDriver(wanted.d2xx);
    const instrument::Listed chosen = chooseInstrument(wanted.location);
    const instrument::State before = instrument::state();
    const std::uint32_t status = instrument::open(chosen.location, &onBlock);
    if (status != 0) {
        failOpen(status, chosen);
    }
    SoapySDR::logf(SOAPY_SDR_INFO, "ZEF418: opened %s at %s through %s; loading its gateware (%s)",
                   chosen.description.c_str(), hexLocation(chosen.location).c_str(),
                   libraryFile().c_str(), gatewareWords(instrument::gatewareImage()).c_str());
    loadGateware(before.gatewareLoads, timeout);
    awaitFirstSettings(before.lastSettings.frames);

    SoapySDR::Kwargs identity;
    identity["label"] = chosen.description + " @ " + hexLocation(chosen.location);
    identity["description"] = chosen.description;
    identity["location"] = hexLocation(chosen.location);
    return identity;
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string hexBytes(const std::array<std::uint8_t, instrument::kCalibrationBytes>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02x", text.empty() ? "" : " ", byte);
        text += pair;
    }
    return text;
}

} // namespace

ZefDevice::ZefDevice(const SoapySDR::Kwargs& args) {
    if (deviceOpen.exchange(true)) {
        fail("one instrument per process, and one is already open here; unmake that device "
             "first, or open this one from another process");
    }
    try {
        identity_ = openInstrument(args);
    } catch (...) {
        instrument::close();
        deviceOpen.store(false);
        throw;
    }
}

ZefDevice::~ZefDevice() {
    instrument::close();
    detachStream();
    deviceOpen.store(false);
}

std::string ZefDevice::getDriverKey() const {
    return kDriverKey;
}

std::string ZefDevice::getHardwareKey() const {
    return "ZEF418";
}

SoapySDR::Kwargs ZefDevice::getHardwareInfo() const {
    const instrument::State state = instrument::state();
    const instrument::GatewareImage& image = instrument::gatewareImage();
    SoapySDR::Kwargs info = identity_;
    info["model"] = std::to_string(state.model);
    info["driver_library"] = !state.libraryFile.empty() ? state.libraryFile : "none";
    info["driver_status"] = instrument::describeStatus(state.driverStatus);
    info["gateware"] = image.placeholder
                           ? "placeholder: this build cannot bring up a real instrument"
                           : "the instrument's own image";
    info["gateware_bytes"] = std::to_string(image.bytes);
    info["gateware_sha256"] = image.sha256;
    const instrument::SettingsSent& sent = state.lastSettings;
    if (sent.frames == 0) {
        info["calibration_codes"] = "none sent yet";
    } else {
        info["calibration_codes"] = "two-point " + hex16(sent.twoPointCode) + ", three-point " +
                                    hex16(sent.threePointCode) + ", five-point " +
                                    hex16(sent.fivePointCode);
        info["calibration_bytes"] = hexBytes(sent.calibrationBytes);
    }
    return info;
}

size_t ZefDevice::getNumChannels(int direction) const {
    return direction == SOAPY_SDR_RX ? 1 : 0;
}

bool ZefDevice::getFullDuplex(int /*direction*/, size_t /*channel*/) const {
    return false;
}

} // namespace zef::soapy

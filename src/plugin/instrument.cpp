// The front-end contract (zef/instrument.h) on top of the same entry points
// the ExtIO exports call, so both front ends drive the instrument alike.
#include "zef/instrument.h"

#include "device_state.h"
#include "entry_points.h"
#include "fpga_image.h"
#include "main_thread/gateware_progress.h"
#include "main_thread/link_keeper.h"
#include "main_thread/sent_settings.h"
#include "sha256.h"
#include "tuning.h"
#include "usb_func/driver_choice.h"
#include "usb_func/driver_lock.h"
#include "usb_func/driver_table.h"
#include "usb_func/open_device.h"

#include <atomic>

namespace zef::instrument {

namespace {

static_assert(kCalibrationBytes == kPassThroughSize);

std::atomic<BlockHandler> blockHandler{nullptr};

// The core calls back the ExtIO way; front ends get just the pairs.
void EXTIO_CALLBACK_CALL forwardBlock(int count, int /*status*/, float /*iqOffset*/, void* data) {
    const BlockHandler handler = blockHandler.load(std::memory_order_acquire);
    if (handler != nullptr && count == kBlockPairs && data != nullptr) {
        handler(static_cast<const std::int16_t*>(data));
    }
}

Gateware gatewareOf(GatewarePhase phase) {
    switch (phase) {
    case GatewarePhase::Loading:
        return Gateware::Loading;
    case GatewarePhase::AwaitingReady:
        return Gateware::AwaitingReady;
    case GatewarePhase::Ready:
        return Gateware::Ready;
    case GatewarePhase::NotReady:
        return Gateware::NotReady;
    case GatewarePhase::Failed:
        return Gateware::Failed;
    case GatewarePhase::NotLoaded:
        break;
    }
    return Gateware::NotLoaded;
}

std::uint64_t between(std::uint64_t from, std::uint64_t to) {
    return from != 0 && to >= from ? to - from : 0;
}

} // namespace

bool chooseDriver(const std::string& choice) {
    platform::LockGuard guard(driverLock());
    if (deviceState.bridgeLibrary.load() || deviceState.plainLibrary.load()) {
        const std::string bound = driverFiles().bound;
        return choice.empty() || bound == choice ||
               (choice == "zef" && bound == openDriverPath()) ||
               (choice == "ftdi" && bound.ends_with(std::string("/") + kPlainLibraryFile));
    }
    chooseDriverLibrary(choice);
    return true;
}

Listing list() {
    Listing listing;
    platform::LockGuard guard(driverLock());
    listing.status = BindDriver();
    if (listing.status != 0) {
        return listing;
    }
    DWORD count = 0;
    listing.status = FT_CreateDeviceInfoList(&count);
    if (listing.status != FT_OK) {
        return listing;
    }
    listing.devices = count;
    ListedDevice device;
    for (DWORD index = 0; index < count; ++index) {
        if (listInstrument(index, device)) {
            listing.instruments.push_back({device.description, device.location});
        }
    }
    return listing;
}

std::uint32_t open(std::optional<std::uint32_t> location, BlockHandler handler) {
    {
        platform::LockGuard guard(driverLock());
        setDeviceSearch(DeviceSearch{true, location});
    }
    blockHandler.store(handler, std::memory_order_release);
    setLinkKeeping(false);
    zef::setCallback(&forwardBlock);
    zef::initHW(nullptr, nullptr, nullptr);
    const auto status = static_cast<std::uint32_t>(deviceState.driverStatus.load());
    if (status == 0) {
        // InitHW sets the default local oscillator but not its word.
        zef::setHWLO(zef::getHWLO());
    }
    return status;
}

void close() {
    zef::stopHW();
    zef::closeHW();
    blockHandler.store(nullptr, std::memory_order_release);
}

std::uint32_t start() {
    zef::startHW(zef::getHWLO());
    return static_cast<std::uint32_t>(deviceState.driverStatus.load());
}

void stop() {
    zef::stopHW();
}

std::uint32_t checkLink() {
    return CheckLink();
}

void setLocalOscillator(std::int32_t hz) {
    zef::setHWLO(hz);
}

void tune(std::int32_t hz) {
    zef::tuneChanged(hz);
}

void setMode(char letter) {
    zef::modeChanged(letter);
}

State state() {
    State s;
    s.open = portOpen();
    s.ready = deviceState.deviceReady.load();
    s.streaming = deviceState.streaming.load();
    s.location = openedLocation();
    s.model = deviceState.deviceModel.load();
    if (deviceState.bridgeLibrary.load()) {
        s.library = DriverLibrary::Bridge;
    } else if (deviceState.plainLibrary.load()) {
        s.library = DriverLibrary::Plain;
    }
    s.libraryFile = driverFiles().bound;
    s.driverStatus = static_cast<std::uint32_t>(deviceState.driverStatus.load());
    s.localOscillator = deviceState.loFrequency.load();
    s.tuned = deviceState.tuneFrequency.load();
    s.mode = ModeLetter(deviceState.modeCode.load());

    const GatewareProgress progress = gatewareProgress();
    s.gateware = gatewareOf(progress.phase);
    s.gatewareLoads = progress.loads;
    s.loadUs = between(progress.startedUs,
                       progress.imageSentUs != 0 ? progress.imageSentUs : progress.endedUs);
    s.readyWaitUs = between(progress.imageSentUs, progress.endedUs);

    const SentSettings sent = lastSentSettings();
    s.lastSettings.frames = sent.frames;
    s.lastSettings.twoPointCode = sent.twoPointCode;
    s.lastSettings.threePointCode = sent.threePointCode;
    s.lastSettings.fivePointCode = sent.fivePointCode;
    s.lastSettings.calibrationBytes = sent.calibrationBytes;
    return s;
}

const GatewareImage& gatewareImage() {
    static const GatewareImage image = [] {
        const FpgaImage embedded = fpgaImage();
        return GatewareImage{embedded.length, fpgaImageIsPlaceholder(), sha256Hex(embedded.span())};
    }();
    return image;
}

} // namespace zef::instrument

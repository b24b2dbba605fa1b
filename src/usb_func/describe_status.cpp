// Status codes in words, for every front end that shows one to a person.
#include "driver_choice.h"
#include "driver_table.h"
#include "zef/instrument.h"

#include <array>

namespace zef::instrument {

namespace {

struct D2xxStatus {
    const char* name;
    const char* meaning;
};

constexpr std::array<D2xxStatus, 20> kD2xxStatuses{{
    {"FT_OK", "success"},
    {"FT_INVALID_HANDLE", "the handle is not open (the device was closed or unplugged)"},
    {"FT_DEVICE_NOT_FOUND", "no instrument: the driver lists none, or none could be opened"},
    {"FT_DEVICE_NOT_OPENED",
     "the device could not be opened: another program, or the ftdi_sio kernel driver, holds it, "
     "or this user may not open it (the package's udev rule gives access after a replug)"},
    {"FT_IO_ERROR", "input/output error on the USB link (the cable pulled, or the power lost)"},
    {"FT_INSUFFICIENT_RESOURCES", "the driver ran out of resources"},
    {"FT_INVALID_PARAMETER", "the driver refused a parameter"},
    {"FT_INVALID_BAUD_RATE", "the driver refused the baud rate"},
    {"FT_DEVICE_NOT_OPENED_FOR_ERASE", "the device is not opened for erasing"},
    {"FT_DEVICE_NOT_OPENED_FOR_WRITE", "the device is not opened for writing"},
    {"FT_FAILED_TO_WRITE_DEVICE", "a write to the device failed"},
    {"FT_EEPROM_READ_FAILED", "reading the bridge's EEPROM failed"},
    {"FT_EEPROM_WRITE_FAILED", "writing the bridge's EEPROM failed"},
    {"FT_EEPROM_ERASE_FAILED", "erasing the bridge's EEPROM failed"},
    {"FT_EEPROM_NOT_PRESENT", "the bridge has no EEPROM"},
    {"FT_EEPROM_NOT_PROGRAMMED", "the bridge's EEPROM is blank"},
    {"FT_INVALID_ARGS", "the driver refused the arguments"},
    {"FT_NOT_SUPPORTED", "the driver does not support the call"},
    {"FT_OTHER_ERROR", "the driver reported an unspecified error"},
    {"FT_DEVICE_LIST_NOT_READY", "the driver's device list is not ready"},
}};

std::string withCode(const std::string& text, std::uint32_t status) {
    return text + " (status " + std::to_string(status) + ")";
}

// Which file said it, once one is bound.
std::string throughLibrary(const std::string& text) {
    const std::string bound = driverFiles().bound;
    return bound.empty() ? text : text + "; D2XX library " + bound;
}

std::string noLibrary(std::uint32_t status) {
    const std::string choice = driverChoice();
    const DriverFiles files = driverFiles();
    const std::string& tried = files.tried;
    if (!choice.empty()) {
        return withCode(std::string("no D2XX driver library could be loaded: the one chosen (") +
                            kDriverVariable + " or the d2xx argument: \"" + choice + "\"), " +
                            (tried.empty() ? choice : tried) + ", does not load",
                        status);
    }
    if (!files.bridgeFailure.empty()) {
        // The Wine bridge is there but reached nothing on the Linux side.
        return withCode(std::string("no D2XX driver library could be loaded: ") +
                            kBridgeLibraryFile +
                            " \u2192 no Linux D2XX library: " + files.bridgeFailure + "; and " +
                            kPlainLibraryFile + " is not where the dynamic loader looks",
                        status);
    }
    return withCode(std::string("no D2XX driver library could be loaded: neither ") +
                        kBridgeLibraryFile + " nor " + kPlainLibraryFile +
                        " is where the dynamic loader looks" +
#if defined(_WIN32)
                        "",
#else
                        ", and the open driver is not at " + openDriverPath(),
#endif
                    status);
}

} // namespace

std::string describeStatus(std::uint32_t status) {
    if (status == 0) {
        return "FT_OK (status 0): success";
    }
    if (status < kD2xxStatuses.size()) {
        const D2xxStatus& known = kD2xxStatuses[status];
        return throughLibrary(std::string(known.name) + " (status " + std::to_string(status) +
                              "): " + known.meaning);
    }
    if (status == kNoDriverLibrary) {
        return noLibrary(status);
    }
    if (status >= kMissingCommonBase && status < kMissingCommonBase + kCommonSlots) {
        const char* name = kSlotNames[status - kMissingCommonBase];
        return throughLibrary(withCode(std::string("the D2XX library lacks the entry point ") +
                                           name + " (lin_" + name + " in the bridge library)",
                                       status));
    }
    if (status >= kMissingExtraBase && status < kMissingExtraBase + (kAllSlots - kCommonSlots)) {
        const char* name = kSlotNames[kCommonSlots + (status - kMissingExtraBase)];
        return throughLibrary(
            withCode(std::string("FTDI's D2XX library lacks the entry point ") + name, status));
    }
    return withCode("an unknown status", status);
}

} // namespace zef::instrument

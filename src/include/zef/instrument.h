// The core's contract with front ends other than the ExtIO exports (the
// SoapySDR module, zef-host's own checks): list the instruments, open one,
// stream and tune it, read its state, and put a status into words.
//
// The core is process-wide, and so is this: one instrument per process. No
// function throws; a failure comes back as a status code (0: success, a
// D2XX status below 100, 2: no instrument, 100: no driver library, 110-125
// and 130-137: a driver entry point missing), which describeStatus names.
#pragma once

#include "zef/sample_rate.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef::instrument {

// An instrument as the driver lists it.
struct Listed {
    std::string description; // "ZEF418" or "Digital Oscilloscope KR27xx"
    std::uint32_t location = 0;
};

struct Listing {
    std::uint32_t status = 0;  // why the driver could not list, or 0
    std::uint32_t devices = 0; // everything the driver lists, instruments or not
    std::vector<Listed> instruments;
};

// Binds the driver and lists the instruments with the same test the ExtIO
// plug-in's own search uses. Opens nothing; safe from any thread, also while
// an instrument streams.
Listing list();

// Which D2XX library to bind, before one is bound: "ftdi" (FTDI's
// libftd2xx.so), "zef" (the open driver libzefd2xx, installed with the
// SoapySDR module), or a file name or path; "" for ZEF_D2XX from the
// environment, else the default order (the bridge library, FTDI's, then the
// open driver). Linux only. False when another library is bound already:
// the first one stays for the life of the process.
bool chooseDriver(const std::string& choice);

// Gets every good block: kBlockPairs interleaved I/Q pairs of int16, on the
// core's worker thread. Must not block.
using BlockHandler = void (*)(const std::int16_t* pairs);

// Opens the first listed instrument, or the one at `location`, starts the
// worker and lets it load the gateware (watch state().gateware). Never takes
// a device of another kind, neither now nor when start() reopens. Returns 0
// or the status of the failed open (3: another program holds it).
std::uint32_t open(std::optional<std::uint32_t> location, BlockHandler handler);
// Stops delivery and the worker and closes the instrument.
void close();

// Delivery on. Checks the link first and reopens the instrument (and reloads
// its gateware) when it is gone, as the ExtIO StartHW does; returns the
// driver status after that: 0 when the instrument is there. A front end
// keeps the link itself with checkLink() and start(): unlike the ExtIO
// plug-in, the core does not reopen a lost instrument behind its back.
std::uint32_t start();
void stop();
// A receive-queue query on the open handle, changing nothing: 0 while the
// link lives, a D2XX status once the cable is pulled, 3 with nothing open.
std::uint32_t checkLink();

// What the settings frame carries to the instrument. The local oscillator
// is the frequency the I/Q stream is centred on; the tuned frequency and the
// mode do not move the stream.
void setLocalOscillator(std::int32_t hz);
void tune(std::int32_t hz);
// 'C', 'U', 'L', 'A', 'F' or 'E'; any other character is mode code 0 (no
// mode, no offset). 'U' and 'L' shift the tuned word by +1717 / -1717 Hz.
void setMode(char letter);

enum class DriverLibrary : std::uint8_t { None, Bridge, Plain };

enum class Gateware : std::uint8_t {
    NotLoaded,
    Loading,
    AwaitingReady,
    Ready,
    NotReady, // the ready status never came
    Failed,   // a write to the instrument failed during the load
};

inline constexpr std::size_t kCalibrationBytes = 13;

// The last settings frame the instrument was sent.
struct SettingsSent {
    std::uint64_t frames = 0; // 0: none yet, the fields below are zero
    std::uint16_t twoPointCode = 0;
    std::uint16_t threePointCode = 0;
    std::uint16_t fivePointCode = 0;
    std::array<std::uint8_t, kCalibrationBytes> calibrationBytes{};
};

struct State {
    bool open = false;                     // a handle is held
    bool ready = false;                    // the instrument has reported ready
    bool streaming = false;                // blocks go to the handler
    std::optional<std::uint32_t> location; // of the open instrument, when known
    std::uint16_t model = 0;               // model word of the last status frame
    DriverLibrary library = DriverLibrary::None;
    std::string libraryFile; // the file of the bound library, "" when none; for the Wine
                             // bridge "lin_ftd2xx.dll → " and the Linux library behind it
    std::uint32_t driverStatus = 0;
    std::int32_t localOscillator = 0; // Hz
    std::int32_t tuned = 0;           // Hz
    char mode = '\0';                 // letter as setMode takes it; '\0' for code 0
    Gateware gateware = Gateware::NotLoaded;
    std::uint32_t gatewareLoads = 0; // loads begun since the process started
    std::uint64_t loadUs = 0;        // the last load: image and start command
    std::uint64_t readyWaitUs = 0;   // the last load: start command to ready (or give-up)
    SettingsSent lastSettings;
};

State state();

// The gateware this build carries.
struct GatewareImage {
    std::size_t bytes = 0;
    bool placeholder = false; // frames correctly, but cannot bring up a real instrument
    std::string sha256;       // lower-case hex
};

const GatewareImage& gatewareImage();

// A status in words, such as "FT_IO_ERROR (status 4): input/output error on
// the USB link" or "the D2XX library lacks the entry point FT_Purge ...".
std::string describeStatus(std::uint32_t status);

} // namespace zef::instrument

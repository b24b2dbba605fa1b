#include "options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <limits>
#include <map>

namespace zef::host {

namespace {

// "7050000", "7050k", "7.05M", "7.05 MHz".
CLI::AsNumberWithUnit hertzUnits() {
    return CLI::AsNumberWithUnit(
        std::map<std::string, double>{
            {"hz", 1.0}, {"k", 1e3}, {"khz", 1e3}, {"m", 1e6}, {"mhz", 1e6}},
        CLI::AsNumberWithUnit::CASE_INSENSITIVE, "HZ");
}

bool toHertz(double value, std::int32_t& out) {
    const double rounded = std::round(value);
    if (!(rounded >= 0.0 && rounded <= std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    out = static_cast<std::int32_t>(rounded);
    return true;
}

} // namespace

ParseResult parseOptions(int argc, char** argv) {
    HostOptions o;
    // Named here, not after argv[0], so that the help (and the manual page
    // made from it) reads the same wherever the program lies.
    CLI::App app{"zef-host: drives an ExtIO plug-in the way SDR programs do and records its "
                 "I/Q samples.\nProgress goes to stderr; the summary to stdout (stderr when "
                 "stdout carries samples).",
                 "zef-host"};
    app.set_version_flag("--version", std::string("zef-host ") + ZEF_HOST_VERSION);
    app.footer("Exit status:\n"
               "  0 done (also on Ctrl-C after samples arrived; the file is still valid);\n"
               "  1 error (unwritable path, full disk, incomplete plug-in); 2 usage error;\n"
               "  3 no samples within --timeout, with the likely causes named.\n"
               "\n"
               "Examples:\n"
               "  $ zef-host --driver sim --lo 7.05M --seconds 5 -o rec.wav\n"
               "  $ zef-host --lo 14070k --samples 1000000 -o rec.sigmf-meta\n"
               "  $ zef-host --driver sim -q --seconds 10 -o - | other-sdr-tool");

    double lo = o.loFrequency;
    std::optional<double> tune;
    std::string mode(1, o.mode);
    std::string format;
    std::string driver = "auto";
    std::string signal = "signal";
    std::optional<double> carrier;

    app.add_option("--plugin", o.pluginPath,
                   "ExtIO plug-in to load (default: the one built "
                   "beside zef-host)");
    app.add_option("--lo", lo, "Local-oscillator frequency, the centre of the recording")
        ->transform(hertzUnits())
        ->capture_default_str();
    app.add_option("--tune", tune, "Tuned frequency given to TuneChanged (default: the LO)")
        ->transform(hertzUnits());
    app.add_option("--mode", mode, "Mode letter given to ModeChanged (A, U, L, C, F, E)")
        ->check([](const std::string& text) {
            return text.size() == 1 ? std::string() : std::string("one letter expected");
        })
        ->capture_default_str();
    auto* secondsOption =
        app.add_option("--seconds", o.seconds, "Length of the recording in seconds")
            ->check(CLI::PositiveNumber)
            ->capture_default_str();
    app.add_option("--samples", o.samples, "Length of the recording in I/Q pairs")
        ->check(CLI::PositiveNumber)
        ->excludes(secondsOption);
    app.add_option("-o,--output", o.output,
                   "File to record to; '-' writes raw int16 pairs to stdout. Without it only "
                   "the summary is shown");
    app.add_option("--format", format, "wav, sigmf or raw (default: from the file name)")
        ->check(CLI::IsMember({"wav", "sigmf", "raw"}));
    app.add_flag("-q,--quiet", o.quiet, "No progress, no plug-in banner");
    app.add_option("--summary-json", o.summaryJson,
                   "Also write the summary as one JSON object to this file ('-': stdout)");
    app.add_option("--timeout", o.noSampleTimeout,
                   "Give up when no sample arrives within this many seconds")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();

    app.add_option("--driver", driver,
                   "sim: the simulated instrument; system: the plug-in's own D2XX search "
                   "(FTDI's library, else the open libzefd2xx; ZEF_D2XX=ftdi|zef|PATH "
                   "chooses); auto: system when FTDI's library is installed, ZEF_D2XX is "
                   "set or the open driver sees an instrument, else sim")
        ->check(CLI::IsMember({"auto", "sim", "system"}))
        ->capture_default_str();
    app.add_option("--sim-library", o.simLibrary, "Simulator library to preload (full path)");
    app.add_flag("--sim-bridge", o.simBridge, "Use the simulator's bridge-library flavour");
    app.add_option("--sim-signal", signal, "signal (a carrier) or pattern (counting test pattern)")
        ->check(CLI::IsMember({"signal", "pattern"}))
        ->capture_default_str();
    app.add_option("--carrier", carrier,
                   "Radio frequency of the simulated carrier (default: LO + 1 kHz)")
        ->transform(hertzUnits());
    app.add_option("--amplitude", o.amplitude, "Carrier amplitude in counts (full scale 32767)")
        ->check(CLI::Range(0.0, 32767.0))
        ->capture_default_str();
    app.add_option("--sim-corrupt-rate", o.corruptRate,
                   "Probability per byte that the simulator flips a bit")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--sim-drop-rate", o.dropRate,
                   "Probability per byte that the simulator loses it")
        ->check(CLI::Range(0.0, 1.0));

    try {
        app.parse(argc, argv);
        if (!toHertz(lo, o.loFrequency)) {
            throw CLI::ValidationError("--lo", "frequency out of range");
        }
        if (tune) {
            std::int32_t hz = 0;
            if (!toHertz(*tune, hz)) {
                throw CLI::ValidationError("--tune", "frequency out of range");
            }
            o.tuneFrequency = hz;
        }
    } catch (const CLI::ParseError& e) {
        ParseResult result;
        result.exitCode = app.exit(e);
        // Usage errors are 2, as in most command-line programs.
        if (result.exitCode != 0) {
            result.exitCode = 2;
        }
        return result;
    }

    o.mode = mode[0];
    o.carrierHz = carrier;
    o.simTestPattern = signal == "pattern";
    o.driver = driver == "sim"      ? DriverChoice::Simulated
               : driver == "system" ? DriverChoice::System
                                    : DriverChoice::Auto;
    if (!format.empty()) {
        o.format = format == "wav"     ? OutputFormat::Wav
                   : format == "sigmf" ? OutputFormat::Sigmf
                                       : OutputFormat::Raw;
    } else if (!o.output.empty()) {
        o.format = formatFromPath(o.output);
    }
    return {o, 0};
}

} // namespace zef::host

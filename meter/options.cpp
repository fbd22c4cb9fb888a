// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's command line.
#include "meter/meter.h"

#if !defined(_WIN32)
#include "sim/path_options.h"
#endif

#include <cstdio>
#include <string>

MeterOptions meter_options;

#if !defined(_WIN32)
radio_path::PathOptions meter_path_options;
#endif

namespace {

const char usage[] =
    "Usage: tavrene-meter [--csv FILE]"
#if !defined(_WIN32)
    " [--demo [--df HZ] ...]"
#endif
    "\n"
    "\n"
    "Plays Tavrene's two-tone, measures the offset df of what comes back with its sign, and\n"
    "shows it with the level, the XY figure and the drift of the last two minutes.\n"
    "\n"
    "  --csv FILE     append one line a second to FILE: UTC time, df in Hz (empty while there is\n"
    "                 no reading), rms level, SNR in dB, verdict\n"
#if !defined(_WIN32)
    "  --demo         run on a simulated SSB link instead of the sound devices; the link takes:\n"
#endif
    ;

int fail(const std::string& message) {
    std::fprintf(stderr, "tavrene-meter: %s\nTry 'tavrene-meter --help'.\n", message.c_str());
    return 2;
}

} // namespace

int parse_meter_options(int argc, char** argv) {
    bool path_option_seen = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
#if !defined(_WIN32)
            std::fputs(radio_path::path_options_help, stdout);
#endif
            std::fputs("  --help         show this text\n", stdout);
            return 0;
        }
        if (arg == "--csv" || arg.rfind("--csv=", 0) == 0) {
            if (arg == "--csv" && i + 1 >= argc) {
                return fail("missing value for --csv");
            }
            meter_options.csv_path = arg == "--csv" ? argv[++i] : arg.substr(6);
            if (meter_options.csv_path.empty()) {
                return fail("missing value for --csv");
            }
            continue;
        }
#if !defined(_WIN32)
        if (arg == "--demo") {
            meter_options.demo = true;
            continue;
        }
        std::string error;
        const int taken = radio_path::parse_path_option(argc, argv, i, meter_path_options, error);
        if (taken < 0) {
            return fail(error);
        }
        if (taken > 0) {
            path_option_seen = true;
            continue;
        }
#endif
        return fail("unknown option '" + arg + "'");
    }
    if (path_option_seen && !meter_options.demo) {
        return fail("the link options need --demo");
    }
    return -1;
}

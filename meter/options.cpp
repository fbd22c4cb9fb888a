// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's command line.
#include "meter/meter.h"

#include "rig/protocol.h"

#if !defined(_WIN32)
#include "sim/path_options.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

MeterOptions meter_options;

#if !defined(_WIN32)
radio_path::PathOptions meter_path_options;
#endif

namespace {

const char usage[] =
    "Usage: tavrene-meter [--csv FILE] [--rig [HOST[:PORT]] [--rig-step HZ] [--rig-correct "
    "rit|vfo]]"
#if !defined(_WIN32)
    " [--demo [--listen | --voice FILE] [--df HZ] ...] | --read FILE"
#endif
    "\n"
    "\n"
    "Plays Tavrene's two-tone, measures the offset df of what comes back with its sign, and\n"
    "shows it with the level, the XY figure and the drift of the session (up to an hour). With\n"
    "its own tone off it reads any two-tone 1000 + 2000 Hz that arrives: another station's; with\n"
    "no two-tone arriving, the other station's voice (from the harmonics of voiced speech: df to\n"
    "a tenth of a hertz with its uncertainty, or \"Ambiguous\" with the values left open).\n"
    "\n"
    "  --csv FILE     append one line a second to FILE: UTC time, df in Hz (empty while there is\n"
    "                 no reading), rms level, SNR in dB, verdict, and what is read: own (the\n"
    "                 meter's two-tone, returned), heard (another's two-tone, with the meter's\n"
    "                 own tone off) or voice (then the verdict is the voice's state: no_voice,\n"
    "                 listening, reading or ambiguous, and df has one decimal)\n"
    "  --rig [HOST[:PORT]]\n"
    "                 the rig panel: the rig through Hamlib's rigctld (127.0.0.1:4532 unless\n"
    "                 given), Correct RX (Alt+C) to zero-beat the receiver on the reading, and\n"
    "                 Track (Alt+T) to correct by itself, at most every 5 s, standing back 10 s\n"
    "                 whenever the dial is turned by hand\n"
    "  --rig-step HZ  the rig's tuning step; corrections are whole steps (1 Hz unless given)\n"
    "  --rig-correct rit|vfo\n"
    "                 what a correction moves: rit (the default) the receiver's RIT when the rig\n"
    "                 has one, else the VFO; vfo the VFO itself, so that the transmitter follows\n"
    "                 and the operator sends where the other station is\n"
#if !defined(_WIN32)
    "  --read FILE    read a recording (WAV, FLAC, Ogg; any rate and channels) instead of the\n"
    "                 sound card, as with the own tone off, and print the --csv line for every\n"
    "                 second of it (seconds into the file for the time), then a summary line\n"
    "                 starting with '#'; no window. Exits 0 with a reading, 1 without one, 2\n"
    "                 when the file cannot be read\n"
    "  --listen       with --demo: a simulated other station sends the two-tone into the link\n"
    "                 while the meter's own tone is off\n"
    "  --voice FILE   with --demo: the simulated other station speaks FILE (a recording, as\n"
    "                 --read takes), looped, while the meter's own tone is off\n"
    "  --demo         run on a simulated SSB link instead of the sound devices (with --rig, its\n"
    "                 receiver is tuned by the rig); the link takes:\n"
#endif
    ;

int fail(const std::string& message) {
    std::fprintf(stderr, "tavrene-meter: %s\nTry 'tavrene-meter --help'.\n", message.c_str());
    return 2;
}

// NAME VALUE or NAME=VALUE: false when `arg` is not NAME. A value left out comes back empty.
bool option_value(const std::string& arg, const std::string& name, int argc, char** argv, int& i,
                  std::string& value) {
    if (arg == name) {
        value = i + 1 < argc ? argv[++i] : "";
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

int parse_meter_options(int argc, char** argv) {
    bool path_option_seen = false;
    bool rig_step_seen = false;
    int options = 0; // each turn of the loop takes one, with its value
    bool rig_correct_seen = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        ++options;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
#if !defined(_WIN32)
            std::fputs(radio_path::path_options_help, stdout);
#endif
            std::fputs("  --help         show this text\n", stdout);
            return 0;
        }
        if (option_value(arg, "--csv", argc, argv, i, meter_options.csv_path)) {
            if (meter_options.csv_path.empty()) {
                return fail("missing value for --csv");
            }
            continue;
        }
        if (option_value(arg, "--read", argc, argv, i, meter_options.read_path)) {
#if defined(_WIN32)
            return fail("--read is not available in the Windows build");
#else
            if (meter_options.read_path.empty()) {
                return fail("missing value for --read");
            }
            continue;
#endif
        }
        if (arg == "--rig" || arg.rfind("--rig=", 0) == 0) {
            std::string address = arg == "--rig" ? "" : arg.substr(6);
            // The address may be left out: what follows is then the next option.
            if (arg == "--rig" && i + 1 < argc && argv[i + 1][0] != '-') {
                address = argv[++i];
            }
            if (!rig::parse_address(address, meter_options.rig_host, meter_options.rig_port)) {
                return fail("--rig takes HOST[:PORT] with a port from 1 to 65535, not '" + address +
                            "'");
            }
            meter_options.rig = true;
            continue;
        }
        if (arg == "--rig-step" || arg.rfind("--rig-step=", 0) == 0) {
            if (arg == "--rig-step" && i + 1 >= argc) {
                return fail("missing value for --rig-step");
            }
            const std::string value = arg == "--rig-step" ? argv[++i] : arg.substr(11);
            char* end = nullptr;
            const double step = std::strtod(value.c_str(), &end);
            // Whole hertz: no rig tunes finer than 1 Hz over CAT.
            if (value.empty() || *end != '\0' || !(step >= 1 && step <= 1000) ||
                step != static_cast<double>(static_cast<int>(step))) {
                return fail("--rig-step takes whole hertz from 1 to 1000, not '" + value + "'");
            }
            meter_options.rig_step_hz = step;
            rig_step_seen = true;
            continue;
        }
        if (arg == "--rig-correct" || arg.rfind("--rig-correct=", 0) == 0) {
            if (arg == "--rig-correct" && i + 1 >= argc) {
                return fail("missing value for --rig-correct");
            }
            const std::string value = arg == "--rig-correct" ? argv[++i] : arg.substr(14);
            if (value != "rit" && value != "vfo") {
                return fail("--rig-correct takes rit or vfo, not '" + value + "'");
            }
            meter_options.rig_vfo = value == "vfo";
            rig_correct_seen = true;
            continue;
        }
#if !defined(_WIN32)
        if (arg == "--listen") {
            meter_options.listen = true;
            continue;
        }
        if (option_value(arg, "--voice", argc, argv, i, meter_options.voice_path)) {
            if (meter_options.voice_path.empty()) {
                return fail("missing value for --voice");
            }
            continue;
        }
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
    if (!meter_options.read_path.empty() && options > 1) {
        return fail("--read takes no other option");
    }
    if ((path_option_seen || meter_options.listen || !meter_options.voice_path.empty()) &&
        !meter_options.demo) {
        return fail("the link options need --demo");
    }
    if (meter_options.listen && !meter_options.voice_path.empty()) {
        return fail("the other station sends either its two-tone (--listen) or a voice (--voice)");
    }
    if (rig_step_seen && !meter_options.rig) {
        return fail("--rig-step needs --rig");
    }
    if (rig_correct_seen && !meter_options.rig) {
        return fail("--rig-correct needs --rig");
    }
    return -1;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// tavrene-demo: the same program, its sound going round a simulated SSB link instead of a radio.
#include "platform/host.h"
#include "platform/wave_backend.h"
#include "sim/path_options.h"
#include "sim/radio_path.h"

#include <cstdio>
#include <string>

namespace {

const char usage[] =
    "Usage: tavrene-demo [--df HZ] [--noise LEVEL] [--delay MS] [--gain G] [--ppm PPM]\n"
    "                    [--band-limit] [--agc]\n"
    "\n"
    "Runs Tavrene with its output looped back to its input through a simulated SSB link.\n"
    "\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "tavrene-demo: %s\nTry 'tavrene-demo --help'.\n", message.c_str());
    return 2;
}

// Returns -1 when the program should run, otherwise the exit code.
int parse(int argc, char** argv, radio_path::PathOptions& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::fputs(radio_path::path_options_help, stdout);
            std::fputs("  --help         show this text\n", stdout);
            return 0;
        }
        std::string error;
        int taken = radio_path::parse_path_option(argc, argv, i, o, error);
        if (taken == 0) {
            return fail("unknown option '" + arg + "'");
        }
        if (taken < 0) {
            return fail(error);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    radio_path::PathOptions options;
    if (int code = parse(argc, argv, options); code >= 0) {
        return code;
    }

    auto path = radio_path::RadioPath::create();
    radio_path::apply(*path, options);
    path->set_recording(false); // it may run for hours
    platform::wave::set_backend(path);

    // The toolkit sees only the program name: the options were ours.
    static int host_argc = 1;
    static char* host_argv[] = {argv[0], nullptr};
    return platform::host_main(host_argc, host_argv, &WinMain);
}

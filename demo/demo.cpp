// tavrene-demo: the same program, its sound going round a simulated SSB link instead of a radio.
#include "platform/host.h"
#include "platform/wave_backend.h"
#include "sim/radio_path.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

const char usage[] =
    "Usage: tavrene-demo [--df HZ] [--noise LEVEL] [--delay MS]\n"
    "\n"
    "Runs Tavrene with its output looped back to its input through a simulated SSB link.\n"
    "\n"
    "  --df HZ        frequency offset of the link, -100 to 100 (default 0: the figure stands\n"
    "                 still; try 0.5 or 3 to see it drift)\n"
    "  --noise LEVEL  rms of added noise in 8-bit steps, 0 to 100 (default 0)\n"
    "  --delay MS     delay of the link in milliseconds, 0 to 10000 (default 0)\n"
    "  --help         show this text\n";

struct Options {
    double df = 0.0;
    double noise = 0.0;
    double delay_ms = 0.0;
};

bool parse_number(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < low || v > high) {
        return false;
    }
    out = v;
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "tavrene-demo: %s\nTry 'tavrene-demo --help'.\n", message.c_str());
    return 2;
}

// Returns -1 when the program should run, otherwise the exit code.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        std::string value;
        size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        } else if (arg == "--df" || arg == "--noise" || arg == "--delay") {
            if (i + 1 >= argc) {
                return fail("missing value for " + arg);
            }
            value = argv[++i];
        }
        bool ok = true;
        if (arg == "--df") {
            ok = parse_number(value.c_str(), -100.0, 100.0, o.df);
        } else if (arg == "--noise") {
            ok = parse_number(value.c_str(), 0.0, 100.0, o.noise);
        } else if (arg == "--delay") {
            ok = parse_number(value.c_str(), 0.0, 10000.0, o.delay_ms);
        } else {
            return fail("unknown option '" + std::string(argv[i]) + "'");
        }
        if (!ok) {
            return fail(std::string("bad value '").append(value).append("' for ").append(arg));
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parse(argc, argv, options); code >= 0) {
        return code;
    }

    auto path = radio_path::RadioPath::create();
    path->set_df(options.df);
    path->set_noise(options.noise, static_cast<uint32_t>(std::time(nullptr)));
    path->set_delay_ms(options.delay_ms);
    path->set_recording(false); // it may run for hours
    platform::wave::set_backend(path);

    // The toolkit sees only the program name: the options were ours.
    static int host_argc = 1;
    static char* host_argv[] = {argv[0], nullptr};
    return platform::host_main(host_argc, host_argv, &WinMain);
}

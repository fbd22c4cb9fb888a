// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/path_options.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace radio_path {

const char path_options_help[] =
    "  --df HZ        frequency offset of the link, -100 to 100 (default 0: the figure stands\n"
    "                 still; try 0.5 or 3 to see it drift)\n"
    "  --noise LEVEL  rms of added noise in 8-bit steps, 0 to 100 (default 0)\n"
    "  --delay MS     delay of the link in milliseconds, 0 to 10000 (default 0)\n"
    "  --gain G       gain of the link before the 8-bit input clips, 0 to 10 (default 1)\n"
    "  --ppm PPM      the input's sample clock this many ppm fast against the output's,\n"
    "                 -1000 to 1000 (default 0)\n"
    "  --band-limit   pass only 300-2700 Hz, as the filter of an SSB receiver does\n"
    "  --agc          a receiver AGC: the level is held, and pumps after a loud burst\n";

namespace {

bool parse_number(const std::string& text, double low, double high, double& out) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(v) || v < low || v > high) {
        return false;
    }
    out = v;
    return true;
}

// The options that take a number: where it goes and the values it may take.
struct Numeric {
    const char* name;
    double low, high;
    double* (*field)(PathOptions&);
};

const Numeric numeric[] = {
    {"--df", -100.0, 100.0, [](PathOptions& o) { return &o.link.df_hz; }},
    {"--noise", 0.0, 100.0, [](PathOptions& o) { return &o.link.noise_rms; }},
    {"--delay", 0.0, 10000.0, [](PathOptions& o) { return &o.delay_ms; }},
    {"--gain", 0.0, 10.0, [](PathOptions& o) { return &o.link.gain; }},
    {"--ppm", -1000.0, 1000.0, [](PathOptions& o) { return &o.link.clock_ppm; }},
};

} // namespace

int parse_path_option(int argc, char** argv, int& i, PathOptions& o, std::string& error) {
    std::string arg = argv[i];
    std::string value;
    size_t eq = arg.find('=');
    bool has_value = eq != std::string::npos;
    if (has_value) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
    }
    for (const Numeric& n : numeric) {
        if (arg != n.name) {
            continue;
        }
        if (!has_value) {
            if (i + 1 >= argc) {
                error = "missing value for " + arg;
                return -1;
            }
            value = argv[++i];
        }
        if (!parse_number(value, n.low, n.high, *n.field(o))) {
            error = std::string("bad value '").append(value).append("' for ").append(arg);
            return -1;
        }
        return 1;
    }
    bool* flag = arg == "--band-limit" ? &o.link.band_limit
                 : arg == "--agc"      ? &o.link.agc
                                       : nullptr;
    if (!flag) {
        return 0;
    }
    if (has_value) {
        error = std::string("bad value '").append(value).append("' for ").append(arg);
        return -1;
    }
    *flag = true;
    return 1;
}

void apply(RadioPath& path, const PathOptions& o) {
    LinkSettings link = o.link;
    if (link.noise_rms > 0.0) {
        link.noise_seed = static_cast<uint32_t>(std::time(nullptr));
    }
    path.set_link(link);
    path.set_delay_ms(o.delay_ms);
}

} // namespace radio_path

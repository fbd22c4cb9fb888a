// SPDX-License-Identifier: GPL-3.0-or-later
// The options that set up the simulated radio path, shared by the programs that run on it.
#pragma once

#include "sim/link.h"
#include "sim/radio_path.h"

#include <string>

namespace radio_path {

struct PathOptions {
    LinkSettings link;
    double delay_ms = 0.0;
};

// Parses one of --df HZ, --noise LEVEL, --delay MS, --gain G, --ppm PPM, --band-limit, --agc
// (also --opt=value) at argv[i]; advances i past a value it takes. Returns 1 when it took the
// option, 0 when the option is not one of these, -1 on a bad or missing value (`error` says
// which).
int parse_path_option(int argc, char** argv, int& i, PathOptions& o, std::string& error);

extern const char path_options_help[]; // the lines of --help for these options

void apply(RadioPath& path, const PathOptions& o); // seeds noise from the time when noise > 0

} // namespace radio_path

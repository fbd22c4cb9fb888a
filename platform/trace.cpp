// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::trace {

bool from_environment() {
    const char* value = std::getenv("TAVRENE_TRACE");
    return value && std::strcmp(value, "1") == 0;
}

std::string pointer_text(const void* p) {
    if (!p) {
        return "NULL";
    }
    char text[24];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

void write_line(const std::string& line) {
    // One write per line, so that lines from two threads do not mix.
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace platform::trace

// SPDX-License-Identifier: GPL-3.0-or-later
// The layer's trace, as Wine's debug channels: with TAVRENE_TRACE=1 in the environment every call
// it refuses or ignores (outside the subset, or a bad handle) prints one line on standard error,
// the call, its arguments and why. Off, a refusal costs one test of a cached flag.
#pragma once

#include <string>
#include <type_traits>

namespace platform::trace {

bool from_environment();

inline bool enabled() {
    static const bool on = from_environment();
    return on;
}

void write_line(const std::string& line);
std::string pointer_text(const void* p); // 0x... or NULL

template <typename T> void append(std::string& out, const T& value) {
    if constexpr (std::is_convertible_v<T, const char*>) {
        // Appended piece by piece: `"\"" + std::string(s)` inserts at the front, where GCC 12
        // at -O3 sees a false overlap in the copy (-Wrestrict).
        const char* s = value;
        if (s) {
            out += '"';
            out += s;
            out += '"';
        } else {
            out += "NULL";
        }
    } else if constexpr (std::is_pointer_v<T>) {
        out += pointer_text(static_cast<const void*>(value));
    } else {
        out += std::to_string(value);
    }
}

// refused("waveOutWrite", "not an open device", handle, header, size)
template <typename... Args>
void refused(const char* call, const char* reason, const Args&... args) {
    if (!enabled()) {
        return;
    }
    std::string line = std::string("tavrene trace: ") + call + "(";
    const char* separator = "";
    ((line += separator, append(line, args), separator = ", "), ...);
    write_line(line + "): " + reason);
}

} // namespace platform::trace

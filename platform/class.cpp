// SPDX-License-Identifier: GPL-3.0-or-later
// Window classes: registration and lookup by name, without regard to case, as in Win32.
#include "platform/windows_internal.h"

#include <cctype>
#include <map>

namespace platform::win {
namespace {

std::map<std::string, WindowClass> classes; // key: lower-case name
ATOM next_atom = 0xC000;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

const WindowClass* find_class(std::string_view name) {
    auto it = classes.find(lower(name));
    return it == classes.end() ? nullptr : &it->second;
}

void forget_classes() {
    classes.clear();
}

} // namespace platform::win

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc) {
        return 0;
    }
    const std::string key = platform::win::lower(wc->lpszClassName);
    if (key.empty() || platform::win::classes.count(key)) {
        return 0;
    }
    platform::win::classes.emplace(key,
                                   platform::win::WindowClass{wc->lpfnWndProc, wc->hbrBackground,
                                                              wc->hInstance, wc->lpszClassName});
    return platform::win::next_atom++;
}

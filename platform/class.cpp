// SPDX-License-Identifier: GPL-3.0-or-later
// Window classes: registration and lookup by name, without regard to case, as in Win32.
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <deque>
#include <strings.h>

namespace platform::win {
namespace {

std::deque<WindowClass> classes; // a deque: find_class's answers stay valid as classes are added
ATOM next_atom = 0xC000;

} // namespace

const WindowClass* find_class(const char* name) {
    for (const WindowClass& c : classes) {
        if (strcasecmp(c.name.c_str(), name) == 0) {
            return &c;
        }
    }
    return nullptr;
}

void forget_classes() {
    classes.clear();
}

} // namespace platform::win

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    using namespace platform::win;
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc ||
        !*wc->lpszClassName || find_class(wc->lpszClassName)) {
        platform::trace::refused(__func__,
                                 !wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc
                                     ? "no class record, a wrong cbSize or no window procedure"
                                 : !wc->lpszClassName || !*wc->lpszClassName ? "no class name"
                                                                             : "already registered",
                                 wc, wc ? wc->lpszClassName : nullptr);
        return 0;
    }
    classes.push_back(
        WindowClass{wc->lpfnWndProc, wc->hbrBackground, wc->hInstance, wc->lpszClassName});
    return next_atom++;
}

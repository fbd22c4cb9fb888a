// SPDX-License-Identifier: GPL-3.0-or-later
// Painting: invalidation, WM_PAINT when nothing else is waiting, and BeginPaint/EndPaint over
// each window's raster surface, which the host then presents.
#include "platform/gdi_internal.h"
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <algorithm>

namespace platform::win {
namespace {

// May be empty, with left >= right or top >= bottom.
RECT intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

bool empty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

// `b` is never empty: InvalidateRect returns before it would add an empty area.
RECT unite(const RECT& a, const RECT& b) {
    if (empty(a)) {
        return b;
    }
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

} // namespace

raster::View client_view(Window& w) {
    return raster::View{&w.surface, static_cast<int>(w.client.left), static_cast<int>(w.client.top),
                        static_cast<int>(w.client.right - w.client.left),
                        static_cast<int>(w.client.bottom - w.client.top)};
}

bool dispatch_paint() {
    for (HWND hwnd : all_windows()) {
        const Window* w = find(hwnd);
        if (!empty(w->update) && !w->painting && w->kind == Kind::Plain && showing(*w)) {
            deliver(hwnd, WM_PAINT, 0, 0);
            return true;
        }
    }
    return false;
}

} // namespace platform::win

using namespace platform;
using platform::win::find;
using platform::win::Window;

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (!hwnd) {
        for (HWND h : win::all_windows()) {
            InvalidateRect(h, nullptr, erase);
        }
        return TRUE;
    }
    Window* w = find(hwnd);
    if (!w) {
        trace::refused(__func__, "not a window", hwnd, rect, erase);
        return FALSE;
    }
    if (w->kind != win::Kind::Plain) {
        return TRUE; // native widgets repaint themselves whenever they change
    }
    const RECT client = win::client_rect(*w);
    const RECT area = win::intersect(rect ? *rect : client, client);
    if (win::empty(area)) {
        return TRUE;
    }
    w->update = win::unite(w->update, area);
    w->erase = w->erase || erase;
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    Window* w = find(hwnd);
    if (!w || !paint || w->kind != win::Kind::Plain) {
        trace::refused(__func__,
                       !w       ? "not a window"
                       : !paint ? "no PAINTSTRUCT"
                                : "a dialog or control: the host paints those",
                       hwnd, paint);
        return nullptr;
    }
    *paint = PAINTSTRUCT{};
    raster::View view = win::client_view(*w);
    if (win::empty(w->update)) {
        // Nothing to repaint: Windows clips such a context to an empty region.
        view.clip_width = 0;
        view.clip_height = 0;
    }
    const bool erase = w->erase;
    paint->rcPaint = w->update;
    w->erase = false;
    w->update = RECT{0, 0, 0, 0};
    w->painting = true;
    paint->hdc = gdi::create_dc(view);
    paint->fErase =
        erase && !win::deliver(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0);
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc) {
        gdi::release_dc(paint->hdc);
    }
    Window* w = find(hwnd);
    if (!w) {
        trace::refused(__func__, "not a window: ignored", hwnd, paint);
        return TRUE;
    }
    w->painting = false;
    win::host::present(*w);
    return TRUE;
}

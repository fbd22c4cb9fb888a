// SPDX-License-Identifier: GPL-3.0-or-later
#include "panes/panes.h"

#include "app/tavrene.h"
#include "audio/capture.h"
#include "dsp/bandpass.h"
#include "dsp/synth.h"

#include <cmath>

namespace {

constexpr UINT_PTR repaint_timer_id = 1;
constexpr UINT repaint_period_ms = 1; // the system raises it to its minimum period

// The XY pane whose repaint timer is running. The timer is armed once and left alone: arming
// restarts the countdown, so re-arming on every message would let a stream of pointer moves hold
// the next repaint off indefinitely.
HWND timed_pane = nullptr;

// The centre line runs from just outside the right edge to column 0, which LineTo leaves out.
void draw_centre_line(HDC dc) {
    MoveToEx(dc, pane_size, pane_centre_row, nullptr);
    LineTo(dc, 0, pane_centre_row);
}

} // namespace

bool register_pane_class(HINSTANCE instance, const char* name, WNDPROC proc, int background) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(background));
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

LRESULT CALLBACK xy_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (pane != timed_pane && SetTimer(pane, repaint_timer_id, repaint_period_ms, nullptr) != 0) {
        timed_pane = pane;
    }
    switch (msg) {
    case WM_TIMER: {
        RECT client;
        GetClientRect(pane, &client);
        InvalidateRect(pane, &client, TRUE);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(xy_pane, &paint);
        // Read in place while the device may be filling it: a figure may mix two captures.
        const unsigned char* block = capture_block;
        if (block != nullptr) {
            dsp::XYPoint points[dsp::xy_point_count];
            dsp::compute_points(block, points);
            for (const dsp::XYPoint& p : points) {
                SetPixel(dc, p.x, p.y, xy_point_color);
            }
        }
        return EndPaint(xy_pane, &paint);
    }
    case WM_NCDESTROY:
        // A later pane may get this handle back from the system; its first message arms afresh.
        if (pane == timed_pane) {
            timed_pane = nullptr;
        }
        return DefWindowProcA(pane, msg, wparam, lparam);
    default:
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
}

LRESULT CALLBACK idle_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg != WM_PAINT) {
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(pane, &paint);
    draw_centre_line(dc);
    return EndPaint(pane, &paint);
}

LRESULT CALLBACK reference_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg != WM_PAINT) {
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(pane, &paint);
    draw_centre_line(dc); // leaves the current position at (0, 44), where the curve starts
    HPEN pen = CreatePen(PS_SOLID, 0, reference_curve_color);
    SelectObject(dc, pen);
    // About two cycles of f1 with f2 on top, across the client's columns.
    for (int i = 0; i < pane_client; ++i) {
        double y = pane_centre_row - 20.0 * std::sin(0.9 * i / dsp::two_pi);
        y = y - 20.0 * std::sin(1.8 * i / dsp::two_pi);
        LineTo(dc, i, static_cast<int>(y));
    }
    DeleteObject(SelectObject(dc, GetStockObject(BLACK_PEN)));
    return EndPaint(pane, &paint);
}

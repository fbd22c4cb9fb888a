// SPDX-License-Identifier: GPL-3.0-or-later
// The three kinds of pane: the live XY figure, the reference waveform and the idle trace.
#pragma once

#include "platform/win32.h"

// Every pane is a bordered 91 x 91 child: an 89 x 89 client area, centre row 44.
constexpr int pane_size = 91;
constexpr int pane_client = pane_size - 2;
constexpr int pane_centre_row = pane_client / 2;
constexpr int xy_pane_x = 20;
constexpr int xy_pane_y = 26;
constexpr int reference_pane_x = 220;
constexpr int reference_pane_y = 26;

constexpr COLORREF xy_point_color = RGB(255, 255, 100);
constexpr COLORREF reference_curve_color = RGB(100, 255, 100);

// The panes' window classes.
constexpr const char* xy_pane_class = "XYScope";
constexpr const char* idle_pane_class = "Scope1";
constexpr const char* reference_pane_class = "Scope2";

// Registers a pane's window class: `proc` paints it on the stock brush `background`.
bool register_pane_class(HINSTANCE instance, const char* name, WNDPROC proc,
                         int background = GRAY_BRUSH);

LRESULT CALLBACK xy_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK idle_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK reference_scope_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam);

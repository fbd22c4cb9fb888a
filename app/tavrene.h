// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog: what the streams and panes share with it.
#pragma once

#include "platform/win32.h"

constexpr int on_off_button_id = 1001;
constexpr const char* app_caption = "Tavrene";

// The XY display pane, stored as soon as it is created; it paints through this handle.
extern HWND xy_pane;

// Shows a new pane of `pane_class` in the Reference area and destroys the one it replaces.
void show_in_reference_area(HWND dialog, const char* pane_class);

// The warning every audio failure gives: the exclamation sound, then a box owned by the dialog.
void show_warning(HWND dialog, const char* message);

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);

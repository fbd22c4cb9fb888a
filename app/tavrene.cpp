// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point and main dialog of Tavrene.
#include "app/tavrene.h"

#include "audio/capture.h"
#include "audio/tone.h"
#include "panes/panes.h"

#include <cstdio>

HWND xy_pane = nullptr;

namespace {

// The pane now on view in the Reference area (idle or reference).
HWND reference_area_pane = nullptr;

HWND create_pane(HWND dialog, const char* pane_class, int x, int y) {
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    return CreateWindowExA(0, pane_class, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, x, y,
                           pane_size, pane_size, dialog, nullptr, instance, nullptr);
}

void initialise(HWND dialog) {
    show_in_reference_area(dialog, idle_pane_class);
    xy_pane = create_pane(dialog, xy_pane_class, xy_pane_x, xy_pane_y);
    capture_start(dialog);
}

void close_request(HWND dialog) {
    // Stop the tone first; the dialog ends when the output device reports it has closed.
    if (!tone_stop_for_close()) {
        EndDialog(dialog, 0);
        return;
    }
    capture_reset();
}

} // namespace

void show_in_reference_area(HWND dialog, const char* pane_class) {
    HWND replaced = reference_area_pane;
    reference_area_pane = create_pane(dialog, pane_class, reference_pane_x, reference_pane_y);
    // Each switch makes a new pane; the old one would only pile up beneath it.
    if (replaced != nullptr) {
        DestroyWindow(replaced);
    }
}

void show_warning(HWND dialog, const char* message) {
    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(dialog, message, app_caption, MB_ICONEXCLAMATION | MB_OK);
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_INITDIALOG:
        initialise(dialog);
        return TRUE; // focus goes to the first tab stop, the On/Off button
    case WM_COMMAND:
        // Only the button: Esc and other cancels are ignored, closing goes through SC_CLOSE.
        if (LOWORD(wparam) == on_off_button_id) {
            tone_toggle(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (wparam == SC_CLOSE) {
            close_request(dialog);
            return TRUE;
        }
        return FALSE;
    case MM_WIM_OPEN:
        capture_opened();
        return TRUE;
    case MM_WIM_DATA:
        capture_block_filled(reinterpret_cast<WAVEHDR*>(lparam));
        return TRUE;
    case MM_WOM_OPEN:
        tone_opened(dialog);
        return TRUE;
    case MM_WOM_DONE:
        tone_block_done(reinterpret_cast<WAVEHDR*>(lparam));
        return TRUE;
    case MM_WOM_CLOSE:
        tone_closed(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!register_pane_class(instance, xy_pane_class, xy_scope_proc) ||
        !register_pane_class(instance, idle_pane_class, idle_scope_proc) ||
        !register_pane_class(instance, reference_pane_class, reference_scope_proc)) {
        std::fputs("Tavrene: cannot register the pane window classes\n", stderr);
        return 1;
    }
    const INT_PTR result = DialogBoxParamA(instance, "Tavrene", nullptr, main_dialog_proc, 0);
    // The panes went with the dialog; nothing reads the capture block any more.
    xy_pane = nullptr;
    reference_area_pane = nullptr;
    capture_shutdown();
    if (result == -1) {
        MessageBoxA(nullptr, "This program requires Windows NT!", app_caption, MB_ICONSTOP | MB_OK);
        return 1;
    }
    return 0;
}

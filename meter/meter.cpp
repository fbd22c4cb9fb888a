// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point and main dialog of Tavrene Meter: Tavrene's two-tone out, the signed df of what
// comes back in, on the same Win32 subset.
#include "meter/meter.h"

#include "app/tavrene.h"
#include "audio/tone.h"

#include <cstdio>
#include <cstdlib>

// The XY pane of panes/panes.cpp, shared with Tavrene.
HWND xy_pane = nullptr;

namespace {

constexpr UINT_PTR display_timer_id = 1;
constexpr UINT display_period_ms = 500;
constexpr UINT_PTR log_timer_id = 2;
constexpr UINT log_period_ms = 1000;
constexpr UINT_PTR rig_timer_id = 3;
constexpr UINT rig_period_ms = 1000; // the rig is read about once a second, no more

void report_log_failure(HWND dialog, const std::string& error) {
    std::fprintf(stderr, "tavrene-meter: %s\n", error.c_str());
    display_message(dialog, error);
}

void initialise(HWND dialog) {
    display_create(dialog);
    meter_capture_start(dialog);
    SetTimer(dialog, display_timer_id, display_period_ms, nullptr);
    if (meter_options.rig) {
        rig_panel_start(dialog);
        SetTimer(dialog, rig_timer_id, rig_period_ms, nullptr);
    }
    if (meter_options.csv_path.empty()) {
        return;
    }
    std::string error;
    if (!csv_open(meter_options.csv_path, error)) {
        report_log_failure(dialog, error);
        return;
    }
    SetTimer(dialog, log_timer_id, log_period_ms, nullptr);
}

void timer_elapsed(HWND dialog, UINT_PTR id) {
    if (id == display_timer_id) {
        display_tick(dialog);
        return;
    }
    if (id == rig_timer_id) {
        rig_panel_poll(dialog);
        return;
    }
    std::string error;
    if (id == log_timer_id &&
        !csv_append(meter_reading(), meter_voice_reading(), reading_source(), error)) {
        KillTimer(dialog, log_timer_id);
        report_log_failure(dialog, error);
    }
}

// As Tavrene closes: the tone stops first, and the dialog ends once the output has closed.
void close_request(HWND dialog) {
    if (!tone_stop_for_close()) {
        EndDialog(dialog, 0);
        return;
    }
    meter_capture_reset();
}

INT_PTR CALLBACK meter_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_INITDIALOG:
        initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == on_off_button_id) {
            tone_toggle(dialog);
            return TRUE;
        }
        return rig_panel_command(dialog, LOWORD(wparam)) ? TRUE : FALSE;
    case WM_RIG_REPORT:
        rig_panel_report(dialog);
        return TRUE;
    case WM_SYSCOMMAND:
        if (wparam == SC_CLOSE) {
            close_request(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        timer_elapsed(dialog, wparam);
        return TRUE;
    case MM_WIM_OPEN:
        meter_capture_opened();
        return TRUE;
    case MM_WIM_DATA:
        meter_capture_block_filled(dialog, reinterpret_cast<WAVEHDR*>(lparam));
        return TRUE;
    case MM_WOM_OPEN:
        // From here on the reading is of the own tone: nothing heard before it carries over.
        meter_estimator_reset();
        display_forget(dialog);
        tone_opened(dialog);
        return TRUE;
    case MM_WOM_DONE:
        tone_block_done(reinterpret_cast<WAVEHDR*>(lparam));
        return TRUE;
    case MM_WOM_CLOSE:
        // The reading of the tone just stopped ends with it; what of it is still on its way back
        // is not read as a two-tone heard.
        meter_restart_reading(true);
        display_forget(dialog);
        tone_closed(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

// The tone stream reports through these two, as in Tavrene; the meter has no Reference area.
void show_in_reference_area(HWND, const char*) {}

void show_warning(HWND dialog, const char* message) {
    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(dialog, message, meter_caption, MB_ICONEXCLAMATION | MB_OK);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#if defined(_WIN32)
    if (const int code = parse_meter_options(__argc, __argv); code >= 0) {
        return code;
    }
#endif
    if (!register_meter_classes(instance)) {
        std::fputs("tavrene-meter: cannot register the pane window classes\n", stderr);
        return 1;
    }
    const INT_PTR result = DialogBoxParamA(instance, meter_options.rig ? "MeterRig" : "Meter",
                                           nullptr, meter_dialog_proc, 0);
    rig_panel_stop();
    xy_pane = nullptr;
    meter_capture_shutdown();
    csv_close();
    if (result == -1) {
        MessageBoxA(nullptr, "This program requires Windows NT!", meter_caption,
                    MB_ICONSTOP | MB_OK);
        return 1;
    }
    return 0;
}

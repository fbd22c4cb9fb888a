// SPDX-License-Identifier: GPL-3.0-or-later
// The little the conformance tests need beyond Win32 itself, implemented twice: over platform/
// on Linux (seam_linux.cpp) and over the real user32, gdi32 and winmm on Windows and under Wine
// (windows/seam_windows.cpp). The tests in this folder call nothing else, so the same assertions
// hold both implementations to the same behaviour.
//
// Time is real on both: assert orders, counts and bounds, never exact instants.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace conformance {

HINSTANCE instance();

// Microseconds of real, monotonic time.
int64_t now_us();
// Lets time pass without taking any message.
void sleep_ms(int ms);
// Takes and dispatches messages for `ms` of real time. While a dialog is being driven
// (run_dialog), keyboard messages go through the dialog manager first, as in a modal loop.
void pump_for(int ms);
// Takes and dispatches whatever is pending now, without waiting.
void drain();
// Pumps until `done()` or `timeout_ms` has passed; returns done().
bool pump_until(const std::function<bool()>& done, int timeout_ms);

// A device context drawing into a picture of width x height pixels filled with `fill`.
class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual HDC dc() = 0;
    virtual COLORREF at(int x, int y) = 0; // as RGB() makes it
};
std::unique_ptr<Canvas> make_canvas(int width, int height, COLORREF fill);

// A waveform device to open, for the length of a test: the simulated path on Linux, the
// system's default device on Windows.
void begin_wave_devices();
void end_wave_devices(); // closes whatever the test left open

// Runs the dialog template `name` modally with `proc`. `drive` runs inside the modal loop once
// the dialog is shown; when it returns the dialog is ended with `result`, which is returned.
INT_PTR run_dialog(const char* name, DLGPROC proc, const std::function<void(HWND dialog)>& drive,
                   INT_PTR result = 7);
// The control of `dialog` with the keyboard focus, null when none has it.
HWND focused_control(HWND dialog);
// One key going down or up at the keyboard, with Alt held or not; it reaches the focused control
// of `dialog` (the dialog itself when none has the focus) as the window system delivers keys.
void key(HWND dialog, UINT virtual_key, bool down, bool alt = false);
inline void press_key(HWND dialog, UINT virtual_key, bool alt = false) {
    key(dialog, virtual_key, true, alt);
    key(dialog, virtual_key, false, alt);
}
// A click on a push button with the mouse.
void click(HWND dialog, int control_id);

} // namespace conformance

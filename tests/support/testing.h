// SPDX-License-Identifier: GPL-3.0-or-later
// Hooks for driving and inspecting the user interface from tests and tools. Not used by the
// application itself.
#pragma once

#include "platform/raster.h"
#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::testing {

// Runs `hook` once, inside the modal loop, right after the next dialog has been initialised and
// shown. The hook drives the dialog (pump_for / pump_until from loop.h, clicks, keys) and usually
// ends by asking it to close; the modal loop then carries on until EndDialog.
void on_dialog_ready(std::function<void(HWND dialog)> hook);

// Input as a user gives it, through the native widgets.
void click(HWND dialog, int control_id);
// A key going down (`press`) or up at the keyboard, to the focused widget as the window system
// delivers it (`repeat`: one of the events it makes while the key is held); press_key gives both.
void key_event(HWND dialog, int qt_key, int qt_modifiers, bool press, bool repeat = false);
void press_key(HWND dialog, int qt_key, int qt_modifiers = 0);
void close_box(HWND dialog); // the caption's close button (a close event on the window)
// The pointer moving to client pixel (x, y) of a window the application draws, such as a pane.
void move_pointer(HWND window, int x, int y);

// Controls of a dialog, in template order, with rectangles in dialog client pixels.
struct ControlInfo {
    int id;
    std::string class_name; // "Button" or "Static"
    std::string text;
    RECT rect;
    uint32_t style;
};
std::vector<ControlInfo> controls(HWND dialog);
std::string control_text(HWND dialog, int control_id);
int focused_control(HWND dialog); // the id, or 0 when no control has the focus
std::string window_caption(HWND window);

// The window tree.
int window_count();                           // every live window, dialogs and controls included
std::vector<HWND> child_windows(HWND parent); // panes and other CreateWindowExA children
std::string class_name(HWND window);
RECT window_rect(HWND window); // in the parent's client pixels
bool is_window(HWND window);
const raster::Surface* window_pixels(HWND window); // whole window, frame included

// A screenshot of a dialog as the user sees it, saved as PNG. Returns false on failure.
bool save_screenshot(HWND dialog, const std::string& path);

// Message boxes and beeps, recorded instead of shown: each box is answered with OK after `us` of
// platform-clock time, the loop dispatching meanwhile. A negative value puts the toolkit's own
// boxes back (not recorded).
struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
void dismiss_message_boxes_after(int64_t us);
std::vector<MessageBoxRecord> message_boxes();
int beep_count();
void clear_records();

// Counters of paints and timer messages delivered to a window since it was created.
int paint_count(HWND window);
int timer_count(HWND window);

// Forgets every registered window class, so that a test process can run WinMain more than once.
void unregister_classes();

} // namespace platform::testing

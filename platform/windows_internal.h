// SPDX-License-Identifier: GPL-3.0-or-later
// The window layer's own records, shared by the files of platform/ that implement user32
// (class, window, message, painting, dialogs, message_box, qt_host) and by the test hooks. Not
// part of the application's surface.
#pragma once

#include "platform/raster.h"
#include "platform/win32.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace platform::win {

enum class Kind {
    Plain,   // CreateWindowExA with a registered class
    Dialog,  // DialogBoxParamA
    Control, // a template control, presented by a native widget
};

struct Window {
    HWND handle = nullptr;
    Kind kind = Kind::Plain;
    std::string class_name;
    WNDPROC proc = nullptr;
    DLGPROC dialog_proc = nullptr;
    HBRUSH background = nullptr;
    HINSTANCE instance = nullptr;
    DWORD style = 0;
    int id = 0; // child id or control id
    HWND parent = nullptr;
    std::vector<HWND> children; // creation order; the last one is on top
    std::string text;

    RECT rect{};   // in the parent's client pixels (screen-less for top levels)
    RECT client{}; // the client area in window pixels
    bool visible = false;
    bool destroying = false;

    // Pending update: none while `update` is empty.
    bool erase = false;
    RECT update{}; // client pixels

    // Plain windows, which the application draws, keep their pixels here; frame included.
    raster::Surface surface;
    bool painting = false;

    QWidget* widget = nullptr; // the host's presentation, when there is one

    // Dialogs.
    bool dialog_ended = false;
    INT_PTR dialog_result = 0;

    // Push buttons and check boxes.
    bool pushed = false;          // held down by the Space key
    UINT checked = BST_UNCHECKED; // check boxes
};

struct WindowClass {
    WNDPROC proc;
    HBRUSH background;
    HINSTANCE instance;
    std::string name; // as registered
};
const WindowClass* find_class(const char* name);
void forget_classes();

Window* find(HWND hwnd);
std::vector<HWND> all_windows(); // creation order
RECT client_rect(const Window& w);
raster::View client_view(Window& w); // the client area of the window's surface

// A new window record, made of `proto` but for its handle; no message is sent.
Window* create(Window proto, HWND parent);
void destroy(HWND hwnd);

// Calls the window's procedure (the dialog manager's for dialogs) with `msg`.
LRESULT deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Drops the timers and queued input of a window that is going.
void discard_queued(HWND hwnd);

// Pointer input from the host: the pointer moved over `hwnd`, to `client` in its client pixels.
void pointer_moved(HWND hwnd, POINT client, POINT screen);

// The loop's sources of work, in Win32 priority order. Each returns true when it dispatched.
bool dispatch_posted();
bool dispatch_input();
bool dispatch_paint();
bool dispatch_timer(int64_t now_us);
std::optional<int64_t> next_timer_due();

// Visible along its whole parent chain.
bool showing(const Window& w);

// The host presentation (qt_host.cpp). Plain windows go without a widget when there is no
// display; dialogs are only made with one (DialogBoxParamA fails first), and so their controls.
namespace host {
void create_widget(Window& w); // for Plain windows
void destroy_widget(Window& w);
void present(Window& w); // a plain window's surface changed
void create_dialog_widget(Window& dialog, const std::string& font_face, int font_pixels);
void create_control_widget(Window& control, Window& dialog);
void show_dialog(Window& dialog, bool center_on_pointer);
void hide(Window& dialog);
void set_text(Window& control);
void focus(Window& control);
HWND focused_control(Window& dialog);
void show_default(Window& button);  // drawn as the default push button when its style says so
void show_check(Window& check_box); // drawn checked or not as `checked` says
} // namespace host

// Dialog manager entry points for host input (dialogs.cpp).
namespace dialog {
// A keyboard message (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP with a virtual key and
// its lParam flags) for a live dialog's focused control, or the dialog when none has the focus,
// taken as IsDialogMessage takes it. `shift` is Shift's state when the key came (GetKeyState).
void key_message(HWND dialog, UINT msg, WPARAM key, LPARAM flags, bool shift);
// A click on a live push button or check box (its widget still stands); an automatic check box
// changes its state first, as user32's does.
void clicked(HWND control);
} // namespace dialog

// Sends `msg` to a dialog through the dialog manager (procedure, then default handling).
// Both window procedures are deliver's, for windows it found alive.
LRESULT dialog_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// The window procedure of template controls: push buttons and check boxes answer as user32's do.
LRESULT control_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

} // namespace platform::win

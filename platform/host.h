// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the application on the toolkit host.
#pragma once

#include "platform/win32.h"

namespace platform {

using WinMainEntry = int(WINAPI*)(HINSTANCE, HINSTANCE, LPSTR, int);

// Starts the toolkit, calls `entry` (the application's WinMain) and returns its exit code.
// When no display can be opened the toolkit is started without one: the dialog then cannot be
// created and the application reports it. When the display goes away while `entry` runs, the
// audio devices are closed and the process ends there, with exit code 1 and one line on
// standard error.
int host_main(int argc, char** argv, WinMainEntry entry);

// True when windows can be shown (a display, or the offscreen platform).
bool have_display();

// The instance handle the host passes to WinMain.
HINSTANCE host_instance();

// How message boxes and the warning sound reach the user: the toolkit's own, unless another is
// put in (tests record them and answer for the user).
class Notifier {
  public:
    // Shows the box modally; the loop keeps dispatching until it is answered. Returns the button.
    virtual int message_box(HWND owner, const char* text, const char* caption, UINT type) = 0;
    virtual void beep(UINT type) = 0;

  protected:
    ~Notifier() = default;
};
void set_notifier(Notifier* notifier); // null: the toolkit's own

// Told of each message a window procedure receives (tests count paints and ticks with it).
class MessageObserver {
  public:
    virtual void delivered(HWND hwnd, UINT msg) = 0;

  protected:
    ~MessageObserver() = default;
};
void set_message_observer(MessageObserver* observer);

} // namespace platform

// SPDX-License-Identifier: GPL-3.0-or-later
// x11_close WINDOW_ID: asks an X window to close the way a window manager does, with the
// WM_DELETE_WINDOW protocol message (there is no window manager under the test display).
// Exit 0 when the message was sent, 1 when the window cannot be reached, 2 on bad use.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {
bool bad_window = false;
int note_error(Display*, XErrorEvent*) {
    bad_window = true;
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: x11_close WINDOW_ID\n");
        return 2;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11_close: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(note_error);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (bad_window) {
        std::fprintf(stderr, "x11_close: no window %s\n", argv[1]);
        return 1;
    }
    return 0;
}

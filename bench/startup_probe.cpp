// SPDX-License-Identifier: GPL-3.0-or-later
// startup_probe CAPTION TIMEOUT_MS RESULT_FILE PROGRAM [ARGS...]
// Becomes PROGRAM (same process, so the caller keeps its PID), while a forked watcher looks at the
// X display every millisecond until a window titled CAPTION shows both of its panes painted (two
// 89 x 89 gray areas, most of their pixels RGB(128, 128, 128)). The watcher writes to RESULT_FILE
// the milliseconds from just before the fork to the first look that found the dialog painted,
// or -1 when TIMEOUT_MS passed first.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr unsigned long pane_gray = 0x808080;
constexpr int painted = 2 * 89 * 80; // both panes, allowing for lines and points on them

int ignore_errors(Display*, XErrorEvent*) {
    return 0; // windows come and go while we look
}

bool has_caption(Display* display, Window w, const std::string& caption) {
    char* name = nullptr;
    if (XFetchName(display, w, &name) == 0 || name == nullptr) {
        return false;
    }
    const bool same = caption == name;
    XFree(name);
    return same;
}

int gray_pixels(Display* display, Window w) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, w, &attributes) == 0 || attributes.map_state != IsViewable) {
        return 0;
    }
    XImage* image = XGetImage(display, w, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return 0;
    }
    int count = 0;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            count += (XGetPixel(image, x, y) & 0xFFFFFF) == pane_gray;
        }
    }
    XDestroyImage(image);
    return count;
}

bool dialog_painted(Display* display, const std::string& caption) {
    Window root_return = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count) ==
        0) {
        return false;
    }
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i) {
        found = has_caption(display, children[i], caption) &&
                gray_pixels(display, children[i]) >= painted;
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: startup_probe CAPTION TIMEOUT_MS RESULT_FILE PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string caption = argv[1];
    const int timeout_ms = std::atoi(argv[2]);
    const std::string result = argv[3];

    using clock = std::chrono::steady_clock;
    const auto started = clock::now();
    const pid_t watcher = fork();
    if (watcher < 0) {
        std::perror("startup_probe: fork");
        return 2;
    }
    if (watcher > 0) {
        execv(argv[4], argv + 4);
        std::perror("startup_probe: cannot start the program");
        return 2;
    }

    // The watcher.
    double ms = -1.0;
    if (Display* display = XOpenDisplay(nullptr)) {
        XSetErrorHandler(ignore_errors);
        const auto deadline = started + std::chrono::milliseconds(timeout_ms);
        while (clock::now() < deadline) {
            if (dialog_painted(display, caption)) {
                ms = std::chrono::duration<double, std::milli>(clock::now() - started).count();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const std::string partial = result + ".part";
    if (FILE* f = std::fopen(partial.c_str(), "w")) {
        std::fprintf(f, "%.1f\n", ms);
        std::fclose(f);
        std::rename(partial.c_str(), result.c_str());
    }
    return ms >= 0 ? 0 : 1;
}

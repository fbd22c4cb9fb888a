// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the text of one control of a top-level window, read through the real user32 of the
// same Wine prefix: what the window shows, with no screenshot to read.
// Usage: dialog_text.exe CAPTION CONTROL_ID (exit 1 when there is no such window or control)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: dialog_text CAPTION CONTROL_ID\n", stderr);
        return 2;
    }
    const HWND window = FindWindowA(nullptr, argv[1]);
    const HWND control = window ? GetDlgItem(window, std::atoi(argv[2])) : nullptr;
    if (!control) {
        return 1;
    }
    char text[1024] = "";
    GetWindowTextA(control, text, sizeof text);
    std::printf("%s\n", text);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the text of control CONTROL_ID of the top-level window CAPTION, read through the user32
// of the Wine prefix it runs in. Usage: dialog_text.exe CAPTION CONTROL_ID (1: no such control)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const HWND window = argc == 3 ? FindWindowA(nullptr, argv[1]) : nullptr;
    const HWND control = window ? GetDlgItem(window, std::atoi(argv[2])) : nullptr;
    char text[1024] = "";
    if (!control || GetWindowTextA(control, text, sizeof text) < 0) {
        return 1;
    }
    std::printf("%s\n", text);
    return 0;
}

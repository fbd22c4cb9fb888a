// SPDX-License-Identifier: GPL-3.0-or-later
// A throwaway Win32 program, not the application: it registers a class, opens the dialog from
// the template, draws into a child, runs a timer and ends the dialog on its own.
#include "platform/host.h"
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

namespace {

HWND demo_pane = nullptr;
HWND demo_dialog = nullptr;
int demo_ticks = 0;
platform::raster::Surface last_frame;

LRESULT CALLBACK demo_pane_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_CREATE:
        SetTimer(hwnd, 1, 20, nullptr);
        return 0;
    case WM_TIMER:
        if (++demo_ticks == 5) {
            PostMessageA(demo_dialog, WM_USER + 1, 0, 0);
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        for (int i = 0; i < demo_ticks; ++i) {
            SetPixel(dc, 10 + i, 10, RGB(255, 255, 100));
        }
        MoveToEx(dc, 0, 50, nullptr);
        LineTo(dc, 89, 50);
        const BOOL result = EndPaint(hwnd, &ps);
        last_frame = *platform::testing::window_pixels(hwnd);
        return result;
    }
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

INT_PTR CALLBACK demo_dialog_proc(HWND dialog, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        demo_dialog = dialog;
        demo_pane = CreateWindowExA(
            0, "TwDemoPane", nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, 20, 26, 91, 91, dialog,
            nullptr, reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)),
            nullptr);
        return TRUE;
    case WM_USER + 1:
        SetDlgItemTextA(dialog, 1001, "Done");
        EndDialog(dialog, 42);
        return TRUE;
    default:
        return FALSE;
    }
}

int WINAPI demo_main(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = demo_pane_proc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = "TwDemoPane";
    if (!RegisterClassExA(&wc)) {
        return 1;
    }
    return static_cast<int>(DialogBoxParamA(instance, "Tavrene", nullptr, demo_dialog_proc, 0));
}

TEST(DemoProgram, RunsToItsOwnEnd) {
    platform::use_virtual_clock(true);
    const int before = platform::testing::window_count();
    const int64_t start = platform::now_us();
    char command_line[] = "";
    EXPECT_EQ(demo_main(platform::host_instance(), nullptr, command_line, SW_SHOWNORMAL), 42);
    EXPECT_EQ(platform::now_us() - start, 100'000) << "five ticks of 20 ms";
    EXPECT_EQ(demo_ticks, 5);
    EXPECT_EQ(platform::testing::window_count(), before);
    EXPECT_FALSE(platform::testing::is_window(demo_pane));

    ASSERT_EQ(last_frame.width, 91);
    // Client (x, y) is surface (x + 1, y + 1).
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(last_frame.at(11 + i, 11), 0xFFFF64u);
    }
    EXPECT_EQ(last_frame.at(11 + 5, 11), 0x808080u);
    EXPECT_EQ(last_frame.at(1, 51), 0x000000u);
    EXPECT_EQ(last_frame.at(89, 51), 0x000000u) << "clipped at the client edge";
    EXPECT_EQ(last_frame.at(45, 40), 0x808080u);
    platform::use_virtual_clock(false);
}

} // namespace

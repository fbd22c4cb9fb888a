// SPDX-License-Identifier: GPL-3.0-or-later
// Windows over the Qt host: nothing left behind by a refused creation, and the bordered pane's
// frame and client pixels. What holds against Windows as well is in
// tests/conformance/messages.cpp.
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

LRESULT CALLBACK plain_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

bool register_class(const char* name, WNDPROC proc, int brush = GRAY_BRUSH) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(brush));
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

class Windows : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool registered = register_class("TwRecorder", plain_proc);
        ASSERT_TRUE(registered);
    }
    void TearDown() override {
        for (HWND h : created) {
            DestroyWindow(h);
        }
    }
    HWND top(DWORD style = WS_VISIBLE) {
        HWND h = CreateWindowExA(0, "TwRecorder", "top", style, 0, 0, 200, 150, nullptr, nullptr,
                                 nullptr, nullptr);
        created.push_back(h);
        return h;
    }
    HWND child(HWND parent, int x, int y, DWORD extra = WS_BORDER) {
        return CreateWindowExA(0, "TwRecorder", nullptr, WS_CHILD | WS_VISIBLE | extra, x, y, 91,
                               91, parent, nullptr, nullptr, nullptr);
    }
    static void drain() {
        while (platform::pump_once(false)) {
        }
    }
    std::vector<HWND> created;
};

TEST_F(Windows, RefusedCreationReturnsNull) {
    static auto refuse = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_CREATE ? -1 : DefWindowProcA(h, m, w, l);
    };
    ASSERT_TRUE(register_class("TwRefuse", refuse));
    const int before = platform::testing::window_count();
    EXPECT_EQ(CreateWindowExA(0, "TwRefuse", nullptr, WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(platform::testing::window_count(), before);
}

TEST_F(Windows, BorderedChildHasABlackFrameAroundItsErasedClient) {
    HWND parent = top();
    HWND pane = child(parent, 20, 26);
    const RECT placed = platform::testing::window_rect(pane);
    EXPECT_EQ(placed.left, 20);
    EXPECT_EQ(placed.top, 26);
    EXPECT_EQ(placed.right, 111);
    EXPECT_EQ(placed.bottom, 117);
    drain();
    const auto* pixels = platform::testing::window_pixels(pane);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->width, 91);
    for (int i = 0; i < 91; ++i) {
        EXPECT_EQ(pixels->at(i, 0), 0u);
        EXPECT_EQ(pixels->at(i, 90), 0u);
        EXPECT_EQ(pixels->at(0, i), 0u);
        EXPECT_EQ(pixels->at(90, i), 0u);
    }
    // The erase filled the whole client with the class brush, and nothing else.
    EXPECT_EQ(pixels->at(1, 1), 0x808080u);
    EXPECT_EQ(pixels->at(89, 89), 0x808080u);
}

} // namespace

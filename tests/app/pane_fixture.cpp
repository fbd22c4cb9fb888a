// SPDX-License-Identifier: GPL-3.0-or-later
#include "pane_fixture.h"

namespace {

LRESULT CALLBACK host_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, msg, wp, lp);
}

// The pane classes under names of their own, so that WinMain can still register the real ones
// in the same process.
void register_test_classes() {
    static bool done = false;
    if (done) {
        return;
    }
    const struct {
        const char* name;
        WNDPROC proc;
    } classes[] = {{"TestHost", host_proc},
                   {"TestXYScope", xy_scope_proc},
                   {"TestScope1", idle_scope_proc},
                   {"TestScope2", reference_scope_proc}};
    for (const auto& c : classes) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = c.proc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        wc.lpszClassName = c.name;
        ASSERT_NE(RegisterClassExA(&wc), 0) << c.name;
    }
    done = true;
}

} // namespace

void PaneTest::SetUp() {
    platform::use_virtual_clock(true);
    register_test_classes();
    host = CreateWindowExA(0, "TestHost", "panes", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 400, 200,
                           nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
}

void PaneTest::TearDown() {
    DestroyWindow(host);
    xy_pane = nullptr;
    capture_block = nullptr;
    platform::pump_for(1000);
    platform::use_virtual_clock(false);
}

HWND PaneTest::create_pane(const char* pane_class, bool is_xy_pane) {
    HWND pane =
        CreateWindowExA(0, pane_class, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, reference_pane_x,
                        reference_pane_y, pane_size, pane_size, host, nullptr, nullptr, nullptr);
    EXPECT_NE(pane, nullptr);
    if (is_xy_pane) {
        xy_pane = pane;
    }
    EXPECT_TRUE(
        platform::pump_until([&] { return platform::testing::paint_count(pane) > 0; }, 1'000'000));
    return pane;
}

uint32_t PaneTest::pixel(HWND pane, int x, int y) const {
    const platform::raster::Surface* s = platform::testing::window_pixels(pane);
    return s->at(x + 1, y + 1);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_fixture.h"

#include <Qt>

#include <vector>

namespace {

// Dialog units to pixels at the template font's 1.5 px per unit, rounded half up like MulDiv.
// Position and size are mapped separately, as the dialog manager creates its controls.
LONG px(int dialog_units) {
    return (dialog_units * 3 + 1) / 2;
}

RECT dialog_rect(int x, int y, int cx, int cy) {
    return RECT{px(x), px(y), px(x) + px(cx), px(y) + px(cy)};
}

bool inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

using Dialog = AppTest;

TEST_F(Dialog, ShowsTheTemplateLayoutWithBothPanesInTheirBoxes) {
    const int code = run([&](HWND dialog) {
        EXPECT_EQ(platform::testing::window_caption(dialog), "SSB Tavrene Ver 1.2");
        const struct {
            const char* text;
            int id;
            RECT rect;
        } expected[] = {
            {"On/Off", 1001, dialog_rect(122, 17, 20, 61)},
            {"Observation", -1, dialog_rect(5, 5, 95, 85)},
            {"f1+df", -1, dialog_rect(26, 80, 37, 8)},
            {"f2+df", -1, dialog_rect(76, 43, 21, 8)},
            {"Reference", -1, dialog_rect(115, 5, 100, 85)},
            {"f1=1,000Hz f2=2,000Hz", -1, dialog_rect(121, 93, 85, 8)},
            {"When stable, df=0", -1, dialog_rect(21, 93, 85, 8)},
            {"Wave Form", -1, dialog_rect(153, 80, 50, 8)},
        };
        const auto controls = platform::testing::controls(dialog);
        ASSERT_EQ(controls.size(), std::size(expected));
        for (size_t i = 0; i < controls.size(); ++i) {
            EXPECT_EQ(controls[i].text, expected[i].text);
            EXPECT_EQ(controls[i].id, expected[i].id) << expected[i].text;
            const RECT& r = controls[i].rect;
            EXPECT_TRUE(same(r, expected[i].rect)) << expected[i].text << ": " << r.left << ","
                                                   << r.top << "," << r.right << "," << r.bottom;
        }

        HWND xy = xy_pane_of(dialog);
        ASSERT_NE(xy, nullptr);
        EXPECT_EQ(xy, xy_pane);
        const RECT xy_rect = platform::testing::window_rect(xy);
        EXPECT_TRUE(same(xy_rect, RECT{20, 26, 111, 117}));
        EXPECT_TRUE(inside(xy_rect, controls[1].rect)) << "XY pane inside Observation";
        EXPECT_GT(controls[2].rect.top, xy_rect.bottom) << "f1+df under the XY pane";
        EXPECT_GT(controls[3].rect.left, xy_rect.right) << "f2+df right of the XY pane";

        EXPECT_EQ(reference_area(dialog), "Scope1");
        RECT ref_rect{};
        for (HWND w : platform::testing::child_windows(dialog)) {
            if (platform::testing::class_name(w) == "Scope1") {
                ref_rect = platform::testing::window_rect(w);
            }
        }
        EXPECT_TRUE(same(ref_rect, RECT{220, 26, 311, 117}));
        EXPECT_TRUE(inside(ref_rect, controls[4].rect)) << "idle pane inside Reference";
        EXPECT_GT(ref_rect.left, controls[0].rect.right) << "right of the button";
        EXPECT_GT(controls[7].rect.top, ref_rect.bottom) << "above Wave Form";

        EXPECT_EQ(platform::testing::focused_control(dialog), on_off_button_id);
        run_for_ms(100);
        EXPECT_TRUE(platform::testing::save_screenshot(dialog, artifact_path("dialog.png")));
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
}

TEST_F(Dialog, EscapeIsIgnoredWhetherTheToneIsOnOrOff) {
    bool still_open_after_esc = false;
    const int code = run([&](HWND dialog) {
        platform::testing::press_key(dialog, Qt::Key_Escape);
        run_for_ms(200);
        EXPECT_TRUE(platform::testing::is_window(dialog));
        EXPECT_EQ(button(dialog), "On/Off");
        press_and_wait(dialog, "Off");
        platform::testing::press_key(dialog, Qt::Key_Escape);
        run_for_ms(200);
        still_open_after_esc = platform::testing::is_window(dialog);
        EXPECT_EQ(button(dialog), "Off");
        EXPECT_NE(tone_device, nullptr);
        platform::testing::close_box(dialog);
    });
    EXPECT_TRUE(still_open_after_esc);
    EXPECT_EQ(code, 0);
}

// The keys a user may try on the running program, taken as the Windows build takes them: the
// On/Off button is a plain push button, so Return alone gives the dialog IDOK, which it ignores;
// Space presses the focused button; Tab makes the button it focuses the default one, which
// Return then presses; Alt+F4 closes, stopping the tone first.
TEST_F(Dialog, KeysDoWhatTheyDoOnWindows) {
    struct Key {
        int key;
        int modifiers;
    };
    const struct {
        const char* name;
        std::vector<Key> keys;
        const char* button_after; // null: the program has ended
    } cases[] = {
        {"Return", {{Qt::Key_Return, 0}}, "On/Off"},
        {"Space", {{Qt::Key_Space, 0}}, "Off"},
        {"Tab, Return", {{Qt::Key_Tab, 0}, {Qt::Key_Return, 0}}, "Off"},
        {"Space, Alt+F4", {{Qt::Key_Space, 0}, {Qt::Key_F4, Qt::AltModifier}}, nullptr},
    };
    for (const auto& k : cases) {
        const int code = run([&](HWND dialog) {
            for (const Key& key : k.keys) {
                platform::testing::press_key(dialog, key.key, key.modifiers);
                run_for_ms(200);
            }
            // Left open, the dialog must end by itself (the fixture reports one that does not).
            if (k.button_after) {
                EXPECT_EQ(button(dialog), k.button_after) << k.name;
                platform::testing::close_box(dialog);
            }
        });
        EXPECT_EQ(code, 0) << k.name;
    }
}

TEST_F(Dialog, CloseWhileTheToneIsOffEndsAtOnce) {
    int64_t asked = 0;
    int64_t ended = 0;
    const int code = run([&](HWND dialog) {
        run_for_ms(100);
        asked = platform::now_us();
        platform::testing::close_box(dialog);
    });
    ended = platform::now_us();
    EXPECT_EQ(code, 0);
    EXPECT_LT(ended - asked, 20'000);
}

TEST_F(Dialog, OtherSystemCommandsAndCommandsDoNothing) {
    const int code = run([&](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE + 1, 0);
        run_for_ms(100);
        EXPECT_TRUE(platform::testing::is_window(dialog));
        EXPECT_EQ(button(dialog), "On/Off");
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(code, 0);
}

} // namespace

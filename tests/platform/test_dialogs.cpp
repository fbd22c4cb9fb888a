// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog manager on the real template: lookup, layout in dialog units, keys from the window
// system, close requests that never close the window by themselves, EndDialog. What holds
// against Windows' dialog manager as well is in tests/conformance/dialog_keys.cpp.
#include "platform/host.h"
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <QDir>
#include <QImage>
#include <Qt>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace t = platform::testing;

namespace {

struct Message {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Message> got;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> reply; // null: record and return FALSE

INT_PTR CALLBACK recording_dialog(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    got.push_back(Message{msg, wparam, lparam});
    if (reply) {
        return reply(hwnd, msg, wparam, lparam);
    }
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

std::vector<Message> commands() {
    std::vector<Message> out;
    for (const Message& m : got) {
        if (m.msg == WM_COMMAND || m.msg == WM_SYSCOMMAND || m.msg == WM_CLOSE) {
            out.push_back(m);
        }
    }
    return out;
}

// Opens the template, runs `drive` inside the modal loop, then ends the dialog with 7.
INT_PTR run(const char* name, const std::function<void(HWND)>& drive, LPARAM param = 0) {
    t::on_dialog_ready([drive](HWND dialog) {
        drive(dialog);
        EndDialog(dialog, 7);
    });
    return DialogBoxParamA(platform::host_instance(), name, nullptr, recording_dialog, param);
}

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        got.clear();
        reply = nullptr;
    }
    void TearDown() override { t::on_dialog_ready(nullptr); }
};

TEST_F(Dialogs, MissingTemplateFailsWithMinusOne) {
    const int before = t::window_count();
    EXPECT_EQ(DialogBoxParamA(nullptr, "NoSuchDialog", nullptr, recording_dialog, 0), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, recording_dialog, 0), -1);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(t::window_count(), before);
}

TEST_F(Dialogs, TemplateIsFoundWithoutRegardToCaseAndEndDialogResultIsReturned) {
    const int before = t::window_count();
    HWND seen = nullptr;
    EXPECT_EQ(run(
                  "tavrene", [&](HWND d) { seen = d; }, 0x55),
              7);
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(t::is_window(seen)) << "the dialog is destroyed once its loop ends";
    EXPECT_EQ(t::window_count(), before);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().msg, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(got.front().lparam, 0x55);
}

TEST_F(Dialogs, LayoutIsInDialogUnitsOfOneAndAHalfPixels) {
    std::vector<t::ControlInfo> controls;
    std::string caption;
    RECT client{};
    run("Tavrene", [&](HWND d) {
        controls = t::controls(d);
        caption = t::window_caption(d);
        GetClientRect(d, &client);
    });
    EXPECT_EQ(caption, "SSB Tavrene Ver 1.2");
    EXPECT_EQ(client.right, 332);  // 221 du
    EXPECT_EQ(client.bottom, 156); // 104 du
    ASSERT_EQ(controls.size(), 8u);
    const auto& button = controls[0];
    EXPECT_EQ(button.id, 1001);
    EXPECT_EQ(button.class_name, "Button");
    EXPECT_EQ(button.text, "On/Off");
    EXPECT_EQ(button.rect.left, 183);
    EXPECT_EQ(button.rect.top, 26); // 17 du = 25.5, rounded up as MulDiv does
    EXPECT_EQ(button.rect.right, 213);
    EXPECT_EQ(button.rect.bottom, 118);
    EXPECT_TRUE(button.style & BS_MULTILINE);
    EXPECT_TRUE(button.style & WS_TABSTOP);
    EXPECT_EQ(controls[1].text, "Observation");
    EXPECT_EQ(controls[1].class_name, "Button");
    EXPECT_EQ(controls[1].style & 0xF, static_cast<uint32_t>(BS_GROUPBOX));
    EXPECT_EQ(controls[2].class_name, "Static");
    EXPECT_EQ(controls[2].text, "f1+df");
    // The panes' places (pixels) lie inside their boxes.
    const RECT obs = controls[1].rect;
    const RECT ref = controls[4].rect;
    EXPECT_TRUE(obs.left < 20 && obs.top < 26 && 111 < obs.right && 117 < obs.bottom);
    EXPECT_TRUE(ref.left < 220 && ref.top < 26 && 311 < ref.right && 117 < ref.bottom);
    EXPECT_LE(button.rect.right, 220) << "the reference pane sits right of the button";
}

// Keys from the window system reach the dialog manager as Windows posts them, whatever Qt calls
// them; what each key then does is in tests/conformance/dialog_keys.cpp.
TEST_F(Dialogs, WindowSystemKeysArriveAsWindowsKeys) {
    const struct {
        const char* name;
        std::function<void(HWND)> type;
        size_t clicks; // WM_COMMAND BN_CLICKED from the button
        size_t oks;    // WM_COMMAND IDOK
    } cases[] = {
        {"Space held: the window system's repeats click once",
         [](HWND d) {
             t::key_event(d, Qt::Key_Space, 0, true);
             for (int i = 0; i < 3; ++i) {
                 t::key_event(d, Qt::Key_Space, 0, false, true);
                 t::key_event(d, Qt::Key_Space, 0, true, true);
             }
             EXPECT_TRUE(commands().empty()) << "clicked before the key came up";
             t::key_event(d, Qt::Key_Space, 0, false);
         },
         1, 0},
        {"keypad Enter is Return", [](HWND d) { t::press_key(d, Qt::Key_Enter); }, 0, 1},
        {"Shift+Tab moves the focus as Tab does",
         [](HWND d) {
             t::press_key(d, Qt::Key_Backtab, Qt::ShiftModifier);
             t::press_key(d, Qt::Key_Return);
         },
         1, 0},
        {"letters, Alt alone and keys Windows has no code for do nothing",
         [](HWND d) {
             t::press_key(d, Qt::Key_A);
             t::press_key(d, Qt::Key_Alt, Qt::AltModifier);
             t::press_key(d, Qt::Key_MediaPlay);
         },
         0, 0},
    };
    for (const auto& k : cases) {
        got.clear();
        run("Tavrene", [&](HWND d) {
            k.type(d);
            platform::pump_for(20'000);
        });
        size_t clicks = 0;
        size_t oks = 0;
        for (const Message& m : commands()) {
            clicks += m.msg == WM_COMMAND && m.wparam == 1001;
            oks += m.msg == WM_COMMAND && m.wparam == IDOK;
        }
        EXPECT_EQ(commands().size(), clicks + oks) << k.name;
        EXPECT_EQ(clicks, k.clicks) << k.name;
        EXPECT_EQ(oks, k.oks) << k.name;
    }
}

TEST_F(Dialogs, CloseBoxAndAltF4SendScCloseAndNeverCloseByThemselves) {
    // The procedure handles SC_CLOSE itself (returns TRUE): nothing else follows.
    reply = [](HWND, UINT msg, WPARAM wparam, LPARAM) -> INT_PTR {
        return msg == WM_INITDIALOG || (msg == WM_SYSCOMMAND && wparam == SC_CLOSE);
    };
    bool open_after = false;
    run("Tavrene", [&](HWND d) {
        t::close_box(d);
        t::press_key(d, Qt::Key_F4, Qt::AltModifier);
        EXPECT_EQ(commands().size(), 1u) << "Alt+F4's SC_CLOSE is posted, not sent";
        platform::pump_for(20'000);
        open_after = t::is_window(d);
    });
    const auto c = commands();
    ASSERT_EQ(c.size(), 2u);
    for (const Message& m : c) {
        EXPECT_EQ(m.msg, static_cast<UINT>(WM_SYSCOMMAND));
        EXPECT_EQ(m.wparam, static_cast<WPARAM>(SC_CLOSE));
    }
    EXPECT_TRUE(open_after);
}

TEST_F(Dialogs, SetDlgItemTextChangesWhatTheButtonShows) {
    std::string text;
    BOOL missing = TRUE;
    run("Tavrene", [&](HWND d) {
        EXPECT_TRUE(SetDlgItemTextA(d, 1001, "Off"));
        missing = SetDlgItemTextA(d, 4242, "x");
        text = t::control_text(d, 1001);
    });
    EXPECT_EQ(text, "Off");
    EXPECT_FALSE(missing);
}

TEST_F(Dialogs, EndDialogDuringInitReturnsWithoutShowing) {
    reply = [](HWND d, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            EndDialog(d, 3);
        }
        return TRUE;
    };
    bool hook_ran = false;
    t::on_dialog_ready([&](HWND) { hook_ran = true; });
    EXPECT_EQ(DialogBoxParamA(nullptr, "Tavrene", nullptr, recording_dialog, 0), 3);
    EXPECT_FALSE(hook_ran) << "the dialog was never shown";
}

LRESULT CALLBACK gray_pane(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST_F(Dialogs, ChildPanesArePaintedAndShownInTheScreenshot) {
    static bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = gray_pane;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        wc.lpszClassName = "TwGrayPane";
        return RegisterClassExA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    HWND pane = nullptr;
    reply = [&pane](HWND d, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            pane = CreateWindowExA(0, "TwGrayPane", nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, 20,
                                   26, 91, 91, d, nullptr, nullptr, nullptr);
            return TRUE;
        }
        return FALSE;
    };
    const QString path = QDir::temp().filePath("tw_dialog_shot.png");
    bool saved = false;
    std::vector<HWND> children;
    run("Tavrene", [&](HWND d) {
        platform::pump_for(20'000);
        children = t::child_windows(d);
        saved = t::save_screenshot(d, path.toStdString());
    });
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(children, std::vector<HWND>{pane});
    ASSERT_TRUE(saved);
    QImage shot(path);
    ASSERT_FALSE(shot.isNull());
    const qreal ratio = shot.devicePixelRatio() > 0 ? shot.width() / 332.0 : 1.0;
    auto at = [&](int x, int y) {
        return shot.pixel(static_cast<int>(x * ratio), static_cast<int>(y * ratio)) & 0xFFFFFF;
    };
    EXPECT_EQ(at(20, 26), 0x000000u) << "the pane's frame";
    EXPECT_EQ(at(60, 70), 0x808080u) << "the pane's gray client";
    // Scaled for the device pixel ratio without smoothing: the frame's edge stays sharp.
    const int r = static_cast<int>(std::lround(ratio));
    for (int dx = 0; dx < 2 * r; ++dx) {
        EXPECT_EQ(shot.pixel(20 * r + dx, 70 * r) & 0xFFFFFF, dx < r ? 0x000000u : 0x808080u);
    }
    QFile::remove(path);
}

} // namespace

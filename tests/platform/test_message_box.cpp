// SPDX-License-Identifier: GPL-3.0-or-later
// MessageBoxA keeps the loop running while it is open; MessageBeep is counted.
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <functional>

namespace t = platform::testing;

namespace {

int user_messages = 0;
int ticks = 0;

LRESULT CALLBACK busy_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_USER) {
        ++user_messages;
        return 0;
    }
    if (msg == WM_TIMER) {
        ++ticks;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Presses OK on the box on view, `after_us` from now, from inside the loop the box runs; what
// the box showed is kept.
struct UserAnswers {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    platform::TaskId task = 0;

    void press_ok_after(int64_t after_us) {
        task = platform::schedule_at(platform::now_us() + after_us, [this] {
            task = 0;
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (box && box->isVisible()) {
                    title = box->windowTitle();
                    text = box->text();
                    icon = box->icon();
                    box->button(QMessageBox::Ok)->click();
                }
            }
        });
    }
    ~UserAnswers() {
        if (task) {
            platform::cancel_task(task);
        }
    }
};

class MessageBoxes : public ::testing::Test {
  protected:
    void SetUp() override {
        t::dismiss_message_boxes_after(-1); // the toolkit's own boxes
        user_messages = 0;
        ticks = 0;
        platform::use_virtual_clock(true);
    }
    void TearDown() override { platform::use_virtual_clock(false); }
};

// The box is modal, yet device reports and timers go on being dispatched while it is open.
TEST_F(MessageBoxes, PostedMessagesAndTimersKeepBeingDispatchedWhileOpen) {
    static bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = busy_proc;
        wc.lpszClassName = "TwBusy";
        return RegisterClassExA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    HWND w =
        CreateWindowExA(0, "TwBusy", nullptr, 0, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    SetTimer(w, 1, 10, nullptr);
    // A device that reports every 5 ms.
    platform::TaskId pending = 0;
    std::function<void()> report = [&] {
        PostMessageA(w, WM_USER, 0, 0);
        pending = platform::schedule_at(platform::now_us() + 5'000, report);
    };
    pending = platform::schedule_at(platform::now_us() + 5'000, report);
    UserAnswers user;
    user.press_ok_after(200'000);
    const int64_t start = platform::now_us();
    EXPECT_EQ(MessageBoxA(nullptr, "Cannot open", "Tavrene", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(platform::now_us() - start, 200'000);
    // Everything due before OK was pressed at 200 ms ran; what falls due later waits.
    EXPECT_GE(user_messages, 39);
    EXPECT_LE(user_messages, 40);
    EXPECT_GE(ticks, 19);
    EXPECT_LE(ticks, 20);
    platform::cancel_task(pending);
    DestroyWindow(w);
}

TEST_F(MessageBoxes, ShowsCaptionTextAndIconAndClosesWithOk) {
    UserAnswers user;
    user.press_ok_after(50'000);
    const int64_t start = platform::now_us();
    EXPECT_EQ(
        MessageBoxA(nullptr, "This program requires Windows NT!", "Tavrene", MB_OK | MB_ICONSTOP),
        IDOK);
    EXPECT_EQ(platform::now_us() - start, 50'000);
    EXPECT_EQ(user.title, "Tavrene");
    EXPECT_EQ(user.text, "This program requires Windows NT!");
    EXPECT_EQ(user.icon, QMessageBox::Critical);
}

// Tests put their own notifier in: boxes and beeps reach it instead of the user.
TEST_F(MessageBoxes, ANotifierPutInTakesBoxesAndBeeps) {
    t::dismiss_message_boxes_after(30'000);
    t::clear_records();
    const int64_t start = platform::now_us();
    EXPECT_EQ(MessageBoxA(nullptr, "Cannot open", "Tavrene", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(platform::now_us() - start, 30'000);
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_EQ(t::beep_count(), 2);
    const auto boxes = t::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open");
    EXPECT_EQ(boxes[0].caption, "Tavrene");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    t::dismiss_message_boxes_after(-1);
}

} // namespace

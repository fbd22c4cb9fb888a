// MessageBoxA keeps the loop running while it is open; MessageBeep is counted.
#include "platform/loop.h"
#include "platform/testing.h"
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

class MessageBoxes : public ::testing::Test {
  protected:
    void SetUp() override {
        t::clear_records();
        user_messages = 0;
        ticks = 0;
        platform::use_virtual_clock(true);
    }
    void TearDown() override {
        t::dismiss_message_boxes_after(-1);
        platform::use_virtual_clock(false);
    }
};

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
    t::dismiss_message_boxes_after(200'000);
    const int64_t start = platform::now_us();
    EXPECT_EQ(MessageBoxA(nullptr, "Cannot open", "Tavrene", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(platform::now_us() - start, 200'000);
    // Everything due before the box closed at 200 ms; what falls due at that instant waits.
    EXPECT_EQ(user_messages, 39);
    EXPECT_EQ(ticks, 19);
    platform::cancel_task(pending);
    DestroyWindow(w);

    const auto boxes = t::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open");
    EXPECT_EQ(boxes[0].caption, "Tavrene");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
}

TEST_F(MessageBoxes, ShowsCaptionTextAndIconAndClosesWithOk) {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // The user presses OK, from inside the loop the box runs.
    platform::schedule_at(platform::now_us() + 50'000, [&] {
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
    t::dismiss_message_boxes_after(5'000'000); // only a safety net
    const int64_t start = platform::now_us();
    EXPECT_EQ(
        MessageBoxA(nullptr, "This program requires Windows NT!", "Tavrene", MB_OK | MB_ICONSTOP),
        IDOK);
    EXPECT_EQ(platform::now_us() - start, 50'000);
    EXPECT_EQ(title, "Tavrene");
    EXPECT_EQ(text, "This program requires Windows NT!");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST_F(MessageBoxes, BeepsAreCounted) {
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_EQ(t::beep_count(), 2);
    t::clear_records();
    EXPECT_EQ(t::beep_count(), 0);
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// Timers and the loop on the virtual clock, to the microsecond: the minimum period, the schedule
// of late ticks, re-arming on every message, pointer input, service tasks and cross-thread calls.
// Reference figures were taken from the same cases run under Wine. Re-arming, KillTimer, the
// priority below posted messages and paints, and late ticks not queueing up are checked against
// Windows as well, in real time: tests/conformance/timers.cpp.
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::vector<UINT> order;
std::vector<int64_t> tick_times;
std::vector<LPARAM> mouse_positions;
bool rearm_on_every_message = false;

LRESULT CALLBACK timer_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (rearm_on_every_message) {
        SetTimer(hwnd, 1, 1, nullptr);
    }
    switch (msg) {
    case WM_TIMER:
        order.push_back(msg);
        tick_times.push_back(platform::now_us());
        if (rearm_on_every_message) {
            RECT r;
            GetClientRect(hwnd, &r);
            InvalidateRect(hwnd, &r, TRUE);
        }
        return 0;
    case WM_PAINT: {
        order.push_back(msg);
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        return EndPaint(hwnd, &ps);
    }
    case WM_MOUSEMOVE:
        order.push_back(msg);
        mouse_positions.push_back(lparam);
        return 0;
    default:
        if (msg >= WM_USER || msg == WM_NCHITTEST || msg == WM_SETCURSOR) {
            order.push_back(msg);
        }
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

class Timers : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = timer_proc;
            wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
            wc.lpszClassName = "TwTimed";
            return RegisterClassExA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        order.clear();
        tick_times.clear();
        mouse_positions.clear();
        rearm_on_every_message = false;
        platform::use_virtual_clock(true);
        hwnd = CreateWindowExA(0, "TwTimed", nullptr, WS_VISIBLE | WS_BORDER, 0, 0, 91, 91, nullptr,
                               nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        platform::pump_for(0);
        while (platform::pump_once(false)) {
        }
        order.clear();
    }
    void TearDown() override {
        DestroyWindow(hwnd);
        platform::use_virtual_clock(false);
    }
    HWND hwnd = nullptr;
};

TEST_F(Timers, PeriodBelowTenMillisecondsRunsAtTen) {
    const int64_t start = platform::now_us();
    ASSERT_NE(SetTimer(hwnd, 7, 1, nullptr), 0u);
    platform::pump_for(1'000'000);
    ASSERT_EQ(tick_times.size(), 100u);
    EXPECT_EQ(tick_times[0] - start, 10'000);
    for (size_t i = 1; i < tick_times.size(); ++i) {
        EXPECT_EQ(tick_times[i] - tick_times[i - 1], 10'000);
    }
    EXPECT_EQ(platform::testing::timer_count(hwnd), 100);
}

TEST_F(Timers, LongerPeriodsAreKept) {
    SetTimer(hwnd, 1, 35, nullptr);
    platform::pump_for(350'000);
    EXPECT_EQ(tick_times.size(), 10u);
}

TEST_F(Timers, LateTickKeepsTheTimersSchedule) {
    SetTimer(hwnd, 1, 10, nullptr);
    const int64_t armed = platform::now_us();
    // Turning the virtual clock off and on brings it up to real time: a jump past several due
    // times, as a busy loop makes.
    platform::use_virtual_clock(false);
    while (platform::now_us() < armed + 35'000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    platform::use_virtual_clock(true);
    platform::pump_for(30'000);
    ASSERT_GE(tick_times.size(), 3u);
    const int64_t late = tick_times[0] - armed;
    ASSERT_GE(late, 35'000);
    // The next ticks fall where they would have without the delay (Wine: 25.1, then 30.0, 40.0).
    const int64_t next_on_schedule = (late / 10'000 + 1) * 10'000;
    EXPECT_EQ(tick_times[1] - armed, next_on_schedule);
    EXPECT_EQ(tick_times[2] - armed, next_on_schedule + 10'000);
}

// The XY pane's pattern: re-arm a 1 ms timer on every message, invalidate on each tick. The
// result must be a steady stream of repaints at the minimum period, not a stall.
TEST_F(Timers, RearmOnEveryMessageGivesSteadyRepaints) {
    rearm_on_every_message = true;
    SendMessageA(hwnd, WM_USER + 5, 0, 0);
    const int before = platform::testing::paint_count(hwnd);
    platform::pump_for(1'000'000);
    const int paints = platform::testing::paint_count(hwnd) - before;
    EXPECT_GE(paints, 99);
    EXPECT_LE(paints, 101);
}

// Each pointer move brings WM_NCHITTEST, WM_SETCURSOR and WM_MOUSEMOVE, all of which re-arm:
// moves closer together than the period hold every tick off for as long as they last, wider
// apart each lets one tick through. Under Wine: no tick with moves 5, 9 or 9.8 ms apart.
TEST_F(Timers, RearmOnEveryMessageStallsUnderPointerMovesCloserThanThePeriod) {
    rearm_on_every_message = true;
    SendMessageA(hwnd, WM_USER + 5, 0, 0);
    order.clear();
    const auto move_for = [this](int64_t gap_us, int64_t duration_us) {
        for (int64_t t = 0; t < duration_us; t += gap_us) {
            platform::testing::move_pointer(hwnd, static_cast<int>(t / gap_us % 80), 40);
            platform::pump_for(gap_us);
        }
    };
    move_for(5'000, 500'000);
    EXPECT_TRUE(tick_times.empty());
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(std::vector<UINT>(order.begin(), order.begin() + 3),
              (std::vector<UINT>{WM_NCHITTEST, WM_SETCURSOR, WM_MOUSEMOVE}));
    move_for(15'000, 450'000);
    EXPECT_EQ(tick_times.size(), 30u);
    tick_times.clear();
    platform::pump_for(100'000);
    EXPECT_EQ(tick_times.size(), 10u);
}

TEST_F(Timers, PointerMovesNotYetTakenMergeAndComeAfterPostedMessages) {
    platform::testing::move_pointer(hwnd, 10, 20);
    PostMessageA(hwnd, WM_USER, 0, 0);
    platform::testing::move_pointer(hwnd, 30, 40);
    while (platform::pump_once(false)) {
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER, WM_NCHITTEST, WM_SETCURSOR, WM_MOUSEMOVE}));
    EXPECT_EQ(mouse_positions, (std::vector<LPARAM>{(40 << 16) | 30}));
}

TEST_F(Timers, RearmOnEveryMessageRealClockRate) {
    platform::use_virtual_clock(false);
    rearm_on_every_message = true;
    SendMessageA(hwnd, WM_USER + 5, 0, 0);
    const int before = platform::testing::paint_count(hwnd);
    platform::pump_for(500'000);
    const int paints = platform::testing::paint_count(hwnd) - before;
    // ~50 at 10 ms each; slack for a loaded machine.
    EXPECT_GE(paints, 30);
    EXPECT_LE(paints, 51);
}

TEST(Loop, ServiceTasksRunInDueOrderAndCanBeCancelled) {
    platform::use_virtual_clock(true);
    std::vector<int> ran;
    const int64_t t0 = platform::now_us();
    platform::schedule_at(t0 + 30'000, [&] { ran.push_back(3); });
    platform::schedule_at(t0 + 10'000, [&] { ran.push_back(1); });
    const auto cancelled = platform::schedule_at(t0 + 20'000, [&] { ran.push_back(2); });
    platform::schedule_at(t0 + 10'000, [&] { ran.push_back(11); });
    platform::cancel_task(cancelled);
    platform::pump_for(25'000);
    EXPECT_EQ(ran, (std::vector<int>{1, 11}));
    EXPECT_EQ(platform::now_us(), t0 + 25'000) << "virtual time ends exactly at the limit";
    platform::pump_for(10'000);
    EXPECT_EQ(ran, (std::vector<int>{1, 11, 3}));
    platform::use_virtual_clock(false);
}

TEST(Loop, PumpUntilStopsWhenDoneOrTimedOut) {
    platform::use_virtual_clock(true);
    bool flag = false;
    const int64_t t0 = platform::now_us();
    platform::schedule_at(t0 + 40'000, [&] { flag = true; });
    EXPECT_TRUE(platform::pump_until([&] { return flag; }, 1'000'000));
    EXPECT_EQ(platform::now_us(), t0 + 40'000);
    EXPECT_FALSE(platform::pump_until([] { return false; }, 5'000));
    platform::use_virtual_clock(false);
}

TEST(Loop, RunOnUiThreadWakesAWaitingLoop) {
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        platform::run_on_ui_thread([&] { ran = true; });
    });
    const int64_t start = platform::now_us();
    // Nothing else is due: only the cross-thread call can end this wait early.
    EXPECT_TRUE(platform::pump_until([&] { return ran.load(); }, 5'000'000));
    EXPECT_LT(platform::now_us() - start, 1'000'000);
    worker.join();
}

TEST(Loop, PostMessageFromAnotherThreadArrivesOnTheUiThread) {
    static std::thread::id seen_on;
    static auto proc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER + 9) {
            seen_on = std::this_thread::get_id();
        }
        return DefWindowProcA(h, m, w, l);
    };
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.lpszClassName = "TwThreaded";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND w = CreateWindowExA(0, "TwThreaded", nullptr, 0, 0, 0, 5, 5, nullptr, nullptr, nullptr,
                             nullptr);
    std::thread worker([w] { PostMessageA(w, WM_USER + 9, 0, 0); });
    worker.join();
    EXPECT_TRUE(platform::pump_until([] { return seen_on != std::thread::id(); }, 2'000'000));
    EXPECT_EQ(seen_on, std::this_thread::get_id());
    DestroyWindow(w);
}

} // namespace

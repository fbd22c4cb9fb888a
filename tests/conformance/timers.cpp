// SPDX-License-Identifier: GPL-3.0-or-later
// Timers on the real clock, against Windows as much as against the Qt host: the minimum period,
// re-arming, KillTimer, and where WM_TIMER falls among posted messages and paints.
#include "tests/conformance/conformance.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace c = conformance;

struct Tick {
    WPARAM id;
    int64_t at_us;
};
std::vector<Tick> ticks;
std::vector<UINT> order; // posted (WM_USER and up), WM_PAINT and WM_TIMER

LRESULT CALLBACK timed_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_TIMER:
        ticks.push_back(Tick{wparam, c::now_us()});
        order.push_back(msg);
        return 0;
    case WM_PAINT: {
        order.push_back(msg);
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        if (msg >= WM_USER && msg < WM_USER + 0x100) {
            order.push_back(msg);
        }
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

class Win32Timers : public ::testing::Test {
  protected:
    void SetUp() override {
        static const bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = timed_proc;
            wc.hInstance = c::instance();
            wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
            wc.lpszClassName = "TwConformanceTimed";
            return RegisterClassExA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        hwnd = CreateWindowExA(0, "TwConformanceTimed", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 91,
                               91, nullptr, nullptr, c::instance(), nullptr);
        ASSERT_NE(hwnd, nullptr);
        c::drain();
        ticks.clear();
        order.clear();
    }
    void TearDown() override { DestroyWindow(hwnd); }

    // Ticks that can fit between `since` and now at one per `period_ms`.
    static size_t most_ticks_since(int64_t since, int period_ms) {
        return static_cast<size_t>((c::now_us() - since) / (int64_t{period_ms} * 1000) + 1);
    }

    HWND hwnd = nullptr;
};

TEST_F(Win32Timers, PeriodsBelowTenMillisecondsRunAtTen) {
    const int64_t armed = c::now_us();
    ASSERT_EQ(SetTimer(hwnd, 7, 1, nullptr), 7u);
    c::pump_for(300);
    ASSERT_GE(ticks.size(), 5u);
    EXPECT_LE(ticks.size(), most_ticks_since(armed, 10));
    EXPECT_GE(ticks[0].at_us - armed, 9'000);
    for (const Tick& t : ticks) {
        EXPECT_EQ(t.id, 7u);
    }
    // Zero is raised the same way.
    ticks.clear();
    const int64_t rearmed = c::now_us();
    SetTimer(hwnd, 7, 0, nullptr);
    c::pump_for(100);
    EXPECT_LE(ticks.size(), most_ticks_since(rearmed, 10));
}

TEST_F(Win32Timers, RearmingReplacesAndRestartsTheCountdown) {
    // 300 ms, so that a busy machine holding the 60 ms pump up does not let it expire first.
    ASSERT_EQ(SetTimer(hwnd, 1, 300, nullptr), 1u);
    c::pump_for(60);
    ASSERT_TRUE(ticks.empty());
    const int64_t rearmed = c::now_us();
    ASSERT_EQ(SetTimer(hwnd, 1, 300, nullptr), 1u);
    ASSERT_TRUE(c::pump_until([] { return !ticks.empty(); }, 2000));
    EXPECT_GE(ticks[0].at_us - rearmed, 299'000) << "counted from the first SetTimer";

    // Only one timer exists for the id.
    ticks.clear();
    const int64_t counting = c::now_us();
    c::pump_for(700);
    EXPECT_LE(ticks.size(), most_ticks_since(counting, 300));

    // A tick already due but not yet taken goes with the re-arming.
    ASSERT_EQ(SetTimer(hwnd, 1, 10, nullptr), 1u);
    c::sleep_ms(35);
    ticks.clear();
    const int64_t again = c::now_us();
    SetTimer(hwnd, 1, 10, nullptr);
    c::drain();
    EXPECT_TRUE(ticks.empty()) << "a tick due before the re-arming was delivered";
    ASSERT_TRUE(c::pump_until([] { return !ticks.empty(); }, 1000));
    EXPECT_GE(ticks[0].at_us - again, 9'000);
}

TEST_F(Win32Timers, KillTimerStopsTicksAndReportsUnknownIds) {
    SetTimer(hwnd, 3, 10, nullptr);
    EXPECT_TRUE(KillTimer(hwnd, 3));
    EXPECT_FALSE(KillTimer(hwnd, 3));
    EXPECT_FALSE(KillTimer(hwnd, 4));
    c::pump_for(100);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(Win32Timers, TimerComesAfterPostedMessagesAndPaint) {
    SetTimer(hwnd, 1, 10, nullptr);
    c::sleep_ms(25); // the tick is due; now a paint and two posted messages are pending too
    InvalidateRect(hwnd, nullptr, TRUE);
    PostMessageA(hwnd, WM_USER, 0, 0);
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
    c::drain();
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(std::vector<UINT>(order.begin(), order.begin() + 4),
              (std::vector<UINT>{WM_USER, WM_USER + 1, WM_PAINT, WM_TIMER}));
}

TEST_F(Win32Timers, LateTicksDoNotQueueUp) {
    SetTimer(hwnd, 1, 10, nullptr);
    c::sleep_ms(55); // five periods with nobody taking messages
    c::drain();
    EXPECT_GE(ticks.size(), 1u);
    EXPECT_LE(ticks.size(), 2u) << "missed ticks came in a burst";
}

} // namespace

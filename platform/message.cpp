// SPDX-License-Identifier: GPL-3.0-or-later
// Messages and timers: the posted queue, pointer input, dispatch to window procedures,
// SetTimer and the ticks it brings, PostMessageA and SendMessageA.
#include "platform/host.h"
#include "platform/loop.h"
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <algorithm>
#include <deque>
#include <thread>

namespace platform::win {
namespace {

// Below this period Windows raises SetTimer's period (USER_TIMER_MINIMUM).
constexpr UINT min_timer_ms = 10;
constexpr UINT max_timer_ms = 0x7FFFFFFF;

struct Posted {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};
std::deque<Posted> posted;

// The input queue holds at most one pointer move: a newer one replaces it, as Windows merges
// moves the program has not yet taken.
struct PointerMove {
    HWND hwnd;
    POINT client;
    POINT screen;
};
std::optional<PointerMove> pointer_move;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    int64_t period_us;
    int64_t due_us;
};
std::vector<Timer> timers;

Timer* earliest_timer() {
    const auto earliest = std::ranges::min_element(timers, {}, &Timer::due_us);
    return earliest == timers.end() ? nullptr : &*earliest;
}

MessageObserver* observer = nullptr;

const std::thread::id ui_thread = std::this_thread::get_id();

} // namespace

LRESULT deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    if (!w) {
        return 0;
    }
    if (observer) {
        observer->delivered(hwnd, msg);
    }
    switch (w->kind) {
    case Kind::Plain:
        return w->proc(hwnd, msg, wparam, lparam);
    case Kind::Dialog:
        return dialog_window_proc(hwnd, msg, wparam, lparam);
    case Kind::Control:
        return control_window_proc(hwnd, msg, wparam, lparam);
    }
    return 0;
}

void discard_queued(HWND hwnd) {
    // Timers die with their window, even those re-armed by its last messages.
    std::erase_if(timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    if (pointer_move && pointer_move->hwnd == hwnd) {
        pointer_move.reset();
    }
}

bool dispatch_posted() {
    if (posted.empty()) {
        return false;
    }
    const Posted m = posted.front();
    posted.pop_front();
    deliver(m.hwnd, m.msg, m.wparam, m.lparam); // a window gone meanwhile drops it
    return true;
}

void pointer_moved(HWND hwnd, POINT client, POINT screen) {
    pointer_move = PointerMove{hwnd, client, screen};
}

bool dispatch_input() {
    if (!pointer_move) {
        return false;
    }
    const PointerMove m = *pointer_move;
    pointer_move.reset();
    // Each move asks the window what lies under the pointer and lets it set the cursor first.
    const LRESULT hit = deliver(m.hwnd, WM_NCHITTEST, 0, MAKELPARAM(m.screen.x, m.screen.y));
    deliver(m.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.hwnd), MAKELPARAM(hit, WM_MOUSEMOVE));
    if (hit == HTCLIENT) {
        deliver(m.hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(m.client.x, m.client.y));
    }
    return true;
}

bool dispatch_timer(int64_t now_us) {
    Timer* due = earliest_timer();
    if (!due || due->due_us > now_us) {
        return false;
    }
    // A late tick is followed by the next one on the timer's own schedule: no burst of missed
    // ticks, and no drift of the rate by the lateness.
    due->due_us += ((now_us - due->due_us) / due->period_us + 1) * due->period_us;
    deliver(due->hwnd, WM_TIMER, due->id, 0);
    return true;
}

std::optional<int64_t> next_timer_due() {
    const Timer* t = earliest_timer();
    return t ? std::optional(t->due_us) : std::nullopt;
}

} // namespace platform::win

void platform::set_message_observer(MessageObserver* o) {
    win::observer = o;
}

using namespace platform;
using platform::win::find;

// Timers here are always a window's: a timer procedure is refused.
UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC timer_proc) {
    if (!find(hwnd) || find(hwnd)->destroying || timer_proc) {
        trace::refused(__func__,
                       timer_proc ? "a timer procedure: only window timers are kept"
                                  : "not a window, or one being destroyed",
                       hwnd, id, elapse_ms);
        return 0;
    }
    // Arming a timer again replaces it, and its countdown starts afresh.
    KillTimer(hwnd, id);
    const UINT ms = std::clamp(elapse_ms, win::min_timer_ms, win::max_timer_ms);
    const int64_t period = static_cast<int64_t>(ms) * 1000;
    win::timers.push_back(win::Timer{hwnd, id, period, now_us() + period});
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    const auto removed = std::erase_if(
        win::timers, [&](const win::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    return removed ? TRUE : FALSE;
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (std::this_thread::get_id() != win::ui_thread) {
        run_on_ui_thread([=] { PostMessageA(hwnd, msg, wparam, lparam); });
        return TRUE;
    }
    if (hwnd && !find(hwnd)) {
        trace::refused(__func__, "not a window", hwnd, msg, wparam, lparam);
        return FALSE;
    }
    win::posted.push_back(win::Posted{hwnd, msg, wparam, lparam});
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (!find(hwnd)) {
        trace::refused(__func__, "not a window", hwnd, msg, wparam, lparam);
    }
    return win::deliver(hwnd, msg, wparam, lparam);
}

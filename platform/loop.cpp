// SPDX-License-Identifier: GPL-3.0-or-later
// The user-interface thread's loop: clock, service tasks, cross-thread calls and the order in
// which work is taken (Win32's GetMessage order: posted messages, then input, then paints, then
// timers).
#include "platform/loop.h"

#include "platform/windows_internal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

namespace platform {
namespace {

int64_t real_now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool virtual_on = false;
int64_t virtual_now = 0;

struct Task {
    TaskId id;
    std::function<void()> run;
};
std::multimap<int64_t, Task> tasks; // by due time; tasks due together run in scheduling order
TaskId next_task_id = 1;

std::mutex cross_mutex;
std::deque<std::function<void()>> cross_tasks;

QAbstractEventDispatcher* ui_dispatcher() {
    auto* app = QCoreApplication::instance();
    return app ? QAbstractEventDispatcher::instance(app->thread()) : nullptr;
}

bool run_cross_thread_task() {
    std::function<void()> task;
    {
        std::lock_guard lock(cross_mutex);
        if (cross_tasks.empty()) {
            return false;
        }
        task = std::move(cross_tasks.front());
        cross_tasks.pop_front();
    }
    task();
    return true;
}

bool run_due_task() {
    if (tasks.empty() || tasks.begin()->first > now_us()) {
        return false;
    }
    auto run = std::move(tasks.begin()->second.run);
    tasks.erase(tasks.begin());
    run();
    return true;
}

std::optional<int64_t> next_deadline() {
    std::optional<int64_t> due = win::next_timer_due();
    if (!tasks.empty() && (!due || tasks.begin()->first < *due)) {
        due = tasks.begin()->first;
    }
    return due;
}

// Blocks until `limit` (platform clock; nullopt = no limit), a deadline, or a wake-up.
void wait_until(std::optional<int64_t> limit) {
    std::optional<int64_t> until = next_deadline();
    if (limit && (!until || *limit < *until)) {
        until = limit;
    }
    if (virtual_on && until) {
        virtual_now = std::max(virtual_now, *until);
        return;
    }
    const int64_t now = now_us();
    if (until && *until <= now) {
        return;
    }
    if (auto* dispatcher = ui_dispatcher()) {
        static QPointer<QTimer> wake_timer; // goes with the application
        if (!wake_timer) {
            wake_timer = new QTimer(QCoreApplication::instance());
            wake_timer->setSingleShot(true);
            wake_timer->setTimerType(Qt::PreciseTimer);
        }
        if (until) {
            // Round up: waking early only costs another pass.
            wake_timer->start(static_cast<int>((*until - now + 999) / 1000));
        }
        {
            std::lock_guard lock(cross_mutex);
            if (!cross_tasks.empty()) {
                wake_timer->stop();
                return;
            }
        }
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake_timer->stop();
    }
}

} // namespace

int64_t now_us() {
    return virtual_on ? virtual_now : real_now_us();
}

void use_virtual_clock(bool on) {
    if (on && !virtual_on) {
        virtual_now = real_now_us();
    }
    virtual_on = on;
}

TaskId schedule_at(int64_t due_us, std::function<void()> task) {
    const TaskId id = next_task_id++;
    tasks.emplace(due_us, Task{id, std::move(task)});
    return id;
}

void cancel_task(TaskId id) {
    std::erase_if(tasks, [id](const auto& entry) { return entry.second.id == id; });
}

void run_on_ui_thread(std::function<void()> task) {
    {
        std::lock_guard lock(cross_mutex);
        cross_tasks.push_back(std::move(task));
    }
    if (auto* dispatcher = ui_dispatcher()) {
        dispatcher->wakeUp();
    }
}

bool pump_once(bool wait) {
    for (;;) {
        if (run_cross_thread_task() || run_due_task() || win::dispatch_posted() ||
            win::dispatch_input()) {
            return true;
        }
        auto* dispatcher = ui_dispatcher();
        const bool did = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
        // Input may have posted messages or called back across threads.
        if (run_cross_thread_task() || win::dispatch_posted() || win::dispatch_input() ||
            win::dispatch_paint() || win::dispatch_timer(now_us())) {
            return true;
        }
        if (did || !wait) {
            return did;
        }
        wait_until(std::nullopt);
    }
}

void pump_for(int64_t duration_us) {
    pump_until([] { return false; }, duration_us);
}

bool pump_until(const std::function<bool()>& done, int64_t timeout_us) {
    const int64_t end = now_us() + timeout_us;
    while (!done()) {
        // Work due exactly at the end still runs.
        const bool did = pump_once(false);
        const int64_t now = now_us();
        if (now > end || (now == end && !did)) {
            break;
        }
        if (!did) {
            wait_until(end);
        }
    }
    return done();
}

} // namespace platform

// SPDX-License-Identifier: GPL-3.0-or-later
// The user-interface thread's clock, message loop and service tasks, shared inside platform/
// and with the tests. Everything here runs on the one user-interface thread unless it says
// otherwise.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

// Microseconds on the platform clock. Real (monotonic) by default; tests may switch to a
// virtual clock that stands still until the loop is idle and then jumps to the next deadline,
// so seconds of operation run in milliseconds.
int64_t now_us();
void use_virtual_clock(bool on);

// Service tasks: callbacks the loop runs on the user-interface thread once the clock reaches
// their due time. Audio backends pace themselves with these.
using TaskId = uint64_t;
TaskId schedule_at(int64_t due_us, std::function<void()> task);
void cancel_task(TaskId id);

// Thread-safe: runs `task` on the user-interface thread soon, waking the loop if it waits.
void run_on_ui_thread(std::function<void()> task);

// Processes one unit of work (a posted message, host events, a due task, a paint, a timer).
// With `wait`, blocks until something is due; returns false when nothing was done.
bool pump_once(bool wait);

// Runs the loop for `duration_us` of platform-clock time (virtual time under the virtual clock).
void pump_for(int64_t duration_us);

// Runs the loop until `done()` is true or `timeout_us` of platform-clock time has passed;
// returns done().
bool pump_until(const std::function<bool()>& done, int64_t timeout_us);

} // namespace platform

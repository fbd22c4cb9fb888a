# SPDX-License-Identifier: GPL-3.0-or-later
# The real program under the private X display and PulseAudio loopback of tests/e2e/lib.sh:
# start it, find and press its On/Off button, read what the kernel says about it. Sourced after
# tests/e2e/lib.sh; needs TOOLS (the test tools of the build) and PROBES (its bench folder).

CAPTION="SSB Tavrene Ver 1.2"

# real_start PROGRAM: starts the program (through startup_probe, which becomes the program and
# times its start-up). Sets APP (the PID, stopped by the trap), STARTUP_MS and WINDOW.
real_start() {
    local result=$E2E_WORK/startup.txt
    rm -f "$result"
    # The dialog centres itself on the pointer: keep it on the screen.
    xdotool mousemove --sync 240 180
    e2e_spawn "$PROBES/startup_probe" "$CAPTION" 10000 "$result" "$1" >>"$E2E_WORK/program.log" 2>&1
    APP=$E2E_LAST_PID
    e2e_wait_until 15 test -s "$result" || e2e_fail "the start-up probe gave no result"
    STARTUP_MS=$(cat "$result")
    [ "$STARTUP_MS" != "-1.0" ] || e2e_fail "the dialog was not painted within 10 s"
    WINDOW=$(e2e_find_window "$CAPTION")
    [ -n "$WINDOW" ] || e2e_fail "no window with the caption \"$CAPTION\""
}

# real_aim: points the mouse at the On/Off button, found on a screenshot.
real_aim() {
    local origin at
    e2e_screenshot "$E2E_WORK/start" || e2e_fail "screenshot failed"
    read -r -a origin < <("$TOOLS/shot_check/shot_check" locate "$E2E_WORK/start.ppm")
    [ ${#origin[@]} -eq 2 ] || e2e_fail "the dialog is not on the screenshot"
    read -r -a at < <("$TOOLS/shot_check/shot_check" button "$E2E_WORK/start.ppm" "${origin[@]}")
    xdotool mousemove "${at[@]}"
    sleep 0.1
}

real_press() { xdotool click 1; }

# Output streams the program has open on the null sink (0 or 1).
real_tone_streams() { e2e_playing_streams; }

real_rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$APP/status"; }
real_peak_rss_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$APP/status"; }
# Time a process has spent on a CPU, all its threads together, in nanoseconds (the scheduler's
# own account: exact, where user and system ticks are sampled 100 or so times a second and a
# program that wakes 100 times a second can alias with them).
real_cpu_ns() { cat /proc/"${1:-$APP}"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { print t }'; }
# X windows on the display (the whole tree under the root).
real_x_windows() { xwininfo -root -tree | grep -c '^ *0x'; }

# real_close: the close request a window manager sends; waits (bounded) until the program has
# ended with exit code 0. Sets CLOSE_MS, from just before the request to the end of the process.
real_close() {
    local t0
    t0=$(date +%s%N)
    "$TOOLS/x11_close/x11_close" "$WINDOW" || e2e_fail "could not send the close request"
    until e2e_gone "$APP"; do
        (($(date +%s%N) - t0 < 5000000000)) || e2e_fail "the program did not end after the close"
        sleep 0.005
    done
    CLOSE_MS=$((($(date +%s%N) - t0) / 1000000))
    wait "$APP"
    E2E_EXIT_CODE=$?
    [ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
}

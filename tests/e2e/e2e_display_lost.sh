#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The display goes away while the tone plays (the X server is killed): the program must end by
# itself with exit code 1 and one line of its own on standard error, without a crash, and leave
# no stream behind on the sound server.
# Usage: e2e_display_lost.sh PROGRAM TOOLS_BUILD_DIR WORK_DIR
PROGRAM=${1:?program}
TOOLS=${2:?tools folder}
E2E_WORK=${3:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

# A session's runtime folder: without one Qt warns about it at start-up, a line of its own.
export XDG_RUNTIME_DIR=$E2E_WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Streams of clients; the loopback's own remapping stream does not count.
client_streams() {
    { pactl list short sink-inputs && pactl list short source-outputs; } 2>/dev/null |
        grep -c protocol-native
}
no_client_streams() { [ "$(client_streams)" -eq 0 ]; }

e2e_start_pulse
e2e_start_xvfb
XVFB=$E2E_LAST_PID
# The dialog centres itself on the mouse pointer: keep it on the screen.
xdotool mousemove --sync 240 180

# A crash would leave its core in the work folder.
cd "$E2E_WORK" || e2e_fail "no work folder"
ulimit -c unlimited
e2e_spawn "$PROGRAM" >"$E2E_WORK/out" 2>"$E2E_WORK/err"
APP=$E2E_LAST_PID

ORIGIN=()
located() {
    e2e_screenshot "$E2E_WORK/start" &&
        read -r -a ORIGIN < <("$TOOLS/shot_check/shot_check" locate "$E2E_WORK/start.ppm" 2>/dev/null) &&
        [ ${#ORIGIN[@]} -eq 2 ]
}
e2e_wait_until 30 located || e2e_fail "the dialog did not appear"
read -r -a BUTTON < <("$TOOLS/shot_check/shot_check" button "$E2E_WORK/start.ppm" "${ORIGIN[@]}")
xdotool mousemove "${BUTTON[@]}" sleep 0.1 click 1
e2e_wait_until 5 e2e_streams -ge 1 || e2e_fail "On played nothing"
sleep 1
[ "$(client_streams)" -ge 2 ] || e2e_fail "expected the output and the capture stream, found $(client_streams)"

kill -KILL "$XVFB"
e2e_log "X server killed while the tone plays"
e2e_wait_exit "$APP" 10 || e2e_fail "the program did not end after its display went away"
e2e_log "exit code $E2E_EXIT_CODE; standard error: $(cat "$E2E_WORK/err")"
[ "$E2E_EXIT_CODE" -eq 1 ] || e2e_fail "exit code $E2E_EXIT_CODE, not 1"
[ "$(wc -l <"$E2E_WORK/err")" -eq 1 ] || e2e_fail "not exactly one line on standard error"
grep -q "^$(basename "$PROGRAM"): .*display" "$E2E_WORK/err" ||
    e2e_fail "not the program's own line about the display"
! compgen -G "$E2E_WORK/core*" >/dev/null || e2e_fail "the program dumped core"
e2e_wait_until 5 no_client_streams ||
    e2e_fail "streams left on the sound server: $(client_streams)"
e2e_log PASS

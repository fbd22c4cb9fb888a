#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Without a display the program cannot show its dialog: it must end at once with exit code 1 and
# say why on standard error, not hang and not crash.
# Usage: e2e_no_display.sh PROGRAM
PROGRAM=${1:?program}
E2E_WORK=$(mktemp -d)
. "$(dirname "$0")/lib.sh"
E2E_CLEANUPS+=('rm -rf "$E2E_WORK"')

# No display named at all, and one named where no X server answers.
for display in "" ":97"; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${display:+DISPLAY=$display} \
        PULSE_SERVER=unix:/nonexistent timeout -k 2 20 "$PROGRAM" >"$E2E_WORK/out" 2>"$E2E_WORK/err"
    rc=$?
    e2e_log "DISPLAY=\"$display\": exit code $rc; standard error: $(head -c 400 "$E2E_WORK/err")"
    [ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] || e2e_fail "the program hung without a display"
    [ "$rc" -eq 1 ] || e2e_fail "exit code $rc, not 1"
    grep -qi 'display' "$E2E_WORK/err" || e2e_fail "no message about the missing display"
done
e2e_log PASS

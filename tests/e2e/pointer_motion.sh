# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by e2e_session.sh: Off while the pointer keeps moving over the XY pane. Every move is a
# message to the pane; the pane must keep repainting through them, so the figure-eight gives way
# to the silent centre point while the pointer is still moving. Uses the session's ORIGIN, TOOLS,
# HOST and ARTIFACTS.

# e2e_wiggle_pointer X Y MOVES: one xdotool run in the background (E2E_LAST_PID) that moves the
# pointer around (X, Y) about every millisecond, far closer together than the pane's 10 ms period.
e2e_wiggle_pointer() {
    local x=$1 y=$2 i args=()
    for ((i = 0; i < $3; i++)); do
        args+=(mousemove $((x + i % 20)) $((y + i % 17)) sleep 0.001)
    done
    e2e_spawn xdotool "${args[@]}"
}

# The centre point must show within the motion: about 4 s after Off, twice the longest delay
# from Off to silence on the input measured under Wine (2.1 s; 0.3 s on Linux).
off_while_the_pointer_moves_over_the_xy_pane() {
    local mover file=$E2E_WORK/stopped
    e2e_wiggle_pointer $((ORIGIN[0] + 41)) $((ORIGIN[1] + 47)) 4000
    mover=$E2E_LAST_PID
    sleep 0.5
    xdotool key space # the On/Off button has the focus since it was clicked
    e2e_log "pressed On/Off with the Space key, the pointer moving over the XY pane"
    e2e_wait_until 5 e2e_streams -eq 0 || e2e_fail "Off did not stop the output"
    while kill -0 "$mover" 2>/dev/null; do
        e2e_screenshot "$file" || e2e_fail "screenshot failed"
        if "$TOOLS/shot_check/shot_check" idle "$file.ppm" "${ORIGIN[@]}" 2>"$file.why"; then
            kill -0 "$mover" 2>/dev/null || break # taken after the pointer stopped: no proof
            cp "$file.png" "$ARTIFACTS/$HOST-stopped.png"
            e2e_log "screenshot stopped: idle panes as expected, the pointer still moving"
            e2e_stop_pid "$mover"
            return 0
        fi
        sleep 0.1
    done
    cp "$file.png" "$ARTIFACTS/$HOST-stopped.png"
    e2e_fail "no silent XY pane while the pointer moved: $(cat "$file.why")"
}

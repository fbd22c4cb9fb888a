#!/bin/bash
# A user's session with the real program, nothing mocked: the dialog appears, On plays the
# synthesizer's exact bytes, the panes show the figure-eight and the reference curve, Off and On
# again continue the tone's phase, and a close while playing ends the program only after the
# output has closed, with exit code 0.
# Usage: e2e_session.sh linux|wine PROGRAM TOOLS_BUILD_DIR ARTIFACTS_DIR WORK_DIR [WINE_ROOT]
# Exit 0 when all holds, 3 when only the recording is not the exact tone, 1 for anything else.
HOST=${1:?linux or wine}
PROGRAM=${2:?program}
TOOLS=${3:?tools folder}
ARTIFACTS=${4:?artifacts folder}
E2E_WORK=${5:?work folder}
WINE_ROOT=${6:-}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK" "$ARTIFACTS"
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/pointer_motion.sh"

CAPTION="SSB Tavrene Ver 1.2"
FIRST_TONE_SECONDS=7
SECOND_TONE_SECONDS=3

e2e_start_pulse
e2e_start_xvfb
# The dialog centres itself on the mouse pointer: keep it on the screen.
xdotool mousemove --sync 240 180
if [ "$HOST" = wine ]; then
    e2e_wine_env "$WINE_ROOT"
    e2e_start_wineserver
    # Wine's PulseAudio driver asks for a very short server buffer; on a busy machine that
    # underruns and Wine then hands blocks back unplayed. 100 ms keeps it whole.
    LAUNCH=(env PULSE_LATENCY_MSEC=100 "${E2E_WINE_CMD[@]}" "$PROGRAM")
else
    LAUNCH=("$PROGRAM")
fi
e2e_start_recording "$E2E_WORK/output.raw"
RECORDER=$E2E_LAST_PID

e2e_spawn "${LAUNCH[@]}" >"$E2E_WORK/program.log" 2>&1
APP=$E2E_LAST_PID
WINDOW=
window_shown() { WINDOW=$(e2e_find_window "$CAPTION") && [ -n "$WINDOW" ]; }
e2e_wait_until 30 window_shown || e2e_fail "no window with the caption \"$CAPTION\""
e2e_log "window $WINDOW: $(xdotool getwindowgeometry "$WINDOW" | tr '\n' ' ')"

# shot NAME MODE: screenshot until the panes show MODE (idle or playing), at most 8 s; kept
# in the artifacts either way.
ORIGIN=()
shot() {
    local name=$1 mode=$2 file=$E2E_WORK/$1 tries
    for ((tries = 0; tries < 40; tries++)); do
        e2e_screenshot "$file" || e2e_fail "screenshot failed"
        if [ ${#ORIGIN[@]} -eq 0 ]; then
            read -r -a ORIGIN < <("$TOOLS/shot_check/shot_check" locate "$file.ppm" 2>/dev/null)
        fi
        if [ ${#ORIGIN[@]} -eq 2 ] &&
            "$TOOLS/shot_check/shot_check" "$mode" "$file.ppm" "${ORIGIN[@]}" 2>"$E2E_WORK/$name.why"; then
            cp "$file.png" "$ARTIFACTS/$HOST-$name.png"
            e2e_log "screenshot $name: $mode panes as expected"
            return 0
        fi
        sleep 0.2
    done
    cp "$file.png" "$ARTIFACTS/$HOST-$name.png"
    e2e_fail "screenshot $name: $(cat "$E2E_WORK/$name.why" 2>/dev/null || echo 'no pane found')"
}

press_on_off() {
    local at
    read -r -a at < <("$TOOLS/shot_check/shot_check" button "$E2E_WORK/start.ppm" "${ORIGIN[@]}")
    # (no --sync: it waits for a motion event that never comes when the pointer is already there)
    xdotool mousemove "${at[@]}" sleep 0.1 click 1
    e2e_log "pressed On/Off at ${at[*]}"
}

shot start idle
press_on_off
e2e_wait_until 5 e2e_streams -ge 1 || e2e_fail "On played nothing"
sleep 2
shot playing playing
sleep $((FIRST_TONE_SECONDS - 2))
off_while_the_pointer_moves_over_the_xy_pane
sleep 1
press_on_off
e2e_wait_until 5 e2e_streams -ge 1 || e2e_fail "On again played nothing"
sleep "$SECOND_TONE_SECONDS"

# Close while playing, as a window manager would (Wine draws its own frame: Alt+F4 there).
if [ "$HOST" = wine ]; then
    xdotool key --window "$WINDOW" alt+F4
else
    "$TOOLS/x11_close/x11_close" "$WINDOW" || e2e_fail "could not send the close request"
fi
# The window must outlive the output: look at the window first, then at the output stream, so
# a window seen gone while the stream is seen afterwards is a definite fault.
closed_in_order() {
    if [ -n "$(e2e_find_window "$CAPTION")" ]; then
        return 1
    fi
    [ "$(e2e_playing_streams)" -eq 0 ] || e2e_fail "the window went away before the output closed"
}
e2e_wait_until 10 closed_in_order || e2e_fail "the window did not go away after the close"
e2e_wait_exit "$APP" 10 || e2e_fail "the program did not end after its window went away"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE (log: $(cat "$E2E_WORK/program.log"))"
e2e_log "program ended with exit code 0"

sleep 0.3
e2e_stop_pid "$RECORDER"
cp "$E2E_WORK/output.raw" "$ARTIFACTS/$HOST-output.raw"
if ! "$TOOLS/tone_check/tone_check" "$E2E_WORK/output.raw" 5 1; then
    e2e_log "FAIL: the recorded output is not the exact tone"
    exit 3
fi
e2e_log "PASS"

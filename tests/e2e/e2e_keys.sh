#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The keyboard on the real program, pressed at the X server as a user presses keys, the same
# sequence on the Linux build and on the Windows build under Wine (whose real user32 sets what
# is expected): the On/Off button has the focus but is a plain push button, so Return does
# nothing; Esc does nothing; Space turns the tone on and off; Tab makes the button the default
# push button, so Return then turns the tone on; Alt+F4 closes, the tone stopping first.
# The tone is on while the program has a playback stream on the sound server.
# Usage: e2e_keys.sh HOST PROGRAM WORK_DIR [WINE_ROOT]   (HOST: linux or wine)
HOST=${1:?linux or wine}
PROGRAM=${2:?program}
E2E_WORK=${3:?work folder}
WINE_ROOT=${4:-}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

CAPTION="SSB Tavrene Ver 1.2"
# How long a key that must do nothing is given to do something.
QUIET_SECONDS=1.5

e2e_start_pulse loopback
e2e_start_xvfb
# The dialog centres itself on the mouse pointer: keep it on the screen.
xdotool mousemove --sync 240 180
case $HOST in
linux) LAUNCH=("$PROGRAM") ;;
wine)
    e2e_wine_env "$WINE_ROOT"
    e2e_start_wineserver
    LAUNCH=(env PULSE_LATENCY_MSEC=100 "${E2E_WINE_CMD[@]}" "$PROGRAM")
    ;;
*) e2e_fail "unknown host $HOST" ;;
esac
e2e_spawn "${LAUNCH[@]}" >"$E2E_WORK/program.log" 2>&1
APP=$E2E_LAST_PID
WINDOW=
window_shown() { WINDOW=$(e2e_find_window "$CAPTION") && [ -n "$WINDOW" ]; }
e2e_wait_until 30 window_shown || e2e_fail "no window with the caption \"$CAPTION\""
# There is no window manager: give the dialog the keyboard without clicking into it.
timeout 10 xdotool windowfocus --sync "$WINDOW" || e2e_fail "could not focus window $WINDOW"
sleep 0.5

# press KEYS... then: tone_stays off|on, or tone_becomes off|on.
press() {
    xdotool key --clearmodifiers "$@" || e2e_fail "xdotool could not press $*"
    e2e_log "pressed $*"
}
tone_is() {
    case $1 in
    on) e2e_streams -ge 1 ;;
    off) e2e_streams -eq 0 ;;
    esac
}
tone_becomes() {
    e2e_wait_until 5 tone_is "$1" || e2e_fail "the tone did not go $1 (streams: $(e2e_describe_streams))"
    e2e_log "the tone went $1"
}
tone_stays() {
    sleep "$QUIET_SECONDS"
    tone_is "$1" || e2e_fail "the tone did not stay $1 (streams: $(e2e_describe_streams))"
    [ -n "$(e2e_find_window "$CAPTION")" ] || e2e_fail "the window went away"
    e2e_log "the tone stayed $1"
}

press Return
tone_stays off
press Escape
tone_stays off
press space
tone_becomes on
press space
tone_becomes off
press Tab Return
tone_becomes on
press alt+F4
window_gone() { [ -z "$(e2e_find_window "$CAPTION")" ]; }
e2e_wait_until 10 window_gone || e2e_fail "Alt+F4 did not close the window"
e2e_wait_exit "$APP" 10 || e2e_fail "the program did not end after its window went away"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE (log: $(cat "$E2E_WORK/program.log"))"
tone_is off || e2e_fail "the tone outlived the program"
e2e_log PASS

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tavrene-meter.exe's rig panel under Wine against rigctld's dummy rig on the loopback: connected,
# Correct RX (Alt+C at the X server) on a heard two-tone played 7.3 Hz high, the daemon killed
# ("not connected" with its cause, the window still there). The panel's texts are read through
# Wine's own user32 (windows/dialog_text.cpp, built here).
# Usage: e2e_wine_rig.sh PROGRAM WORK_DIR WINE_ROOT
PROGRAM=${1:?program}
E2E_WORK=${2:?work folder}
WINE_ROOT=${3:?wine root}
rm -rf "$E2E_WORK" && mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"
x86_64-w64-mingw32-g++ -O1 -static -o "$E2E_WORK/dialog_text.exe" \
    "$(dirname "$0")/windows/dialog_text.cpp" || e2e_fail "could not build dialog_text.exe"

# A daemon that finds its port taken exits at once: it must still be there once the port answers.
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
rigctl_cmd() { timeout 5 rigctl -m 2 -r "127.0.0.1:$PORT" "$@" 2>/dev/null; }
e2e_spawn rigctld -m 1 -T 127.0.0.1 -t "$PORT"
RIGCTLD=$E2E_LAST_PID
e2e_wait_until 10 rigctl_cmd f >/dev/null || e2e_fail "rigctld does not answer on $PORT"
e2e_gone "$RIGCTLD" && e2e_fail "rigctld on $PORT ended: the port was taken"
rigctl_cmd M USB 2400 || e2e_fail "could not set USB"

e2e_start_pulse
e2e_start_xvfb
e2e_wine_env "$WINE_ROOT"
e2e_start_wineserver
csv=$E2E_WORK/rig.csv
e2e_spawn env PULSE_LATENCY_MSEC=100 "${E2E_WINE_CMD[@]}" "$PROGRAM" --rig "127.0.0.1:$PORT" \
    --csv "Z:${csv//\//\\}" >"$E2E_WORK/meter.log" 2>&1
APP=$E2E_LAST_PID
panel() { e2e_wine 10 "$E2E_WORK/dialog_text.exe" "Tavrene Meter" "$1" | tr -d '\r'; }
panel_says() { panel "$1" | grep -Eq "$2"; } # ID REGEX
panel_wait() { # SECONDS ID REGEX
    e2e_wait_until "$1" panel_says "$2" "$3" || e2e_fail "the panel's $2 reads '$(panel "$2")', not /$3/"
}
panel_wait 30 1010 "^Rig connected: 145000000 Hz USB, RIT \+0 Hz$"

# Another station's two-tone, heard with the meter's own tone off. Wine's capture loses samples
# now and then; the reading must not follow (it once read 8.37 Hz for this 7.300).
LC_ALL=C awk 'BEGIN { for (i = 0; i < 441000; i++) { t = i / 11025
    printf "%c", int(128.5 + 63 * sin(6.283185307 * 1007.3 * t) + 63 * sin(6.283185307 * 2007.3 * t)) } }' |
    pacat --raw --format=u8 --rate=11025 --channels=1 --latency-msec=50 &
E2E_PIDS+=($!)
good_reading() { tr -d '\r' <"$csv" | tail -n 2 | awk -F, '$5 == "good" && $2 > 7.29 && $2 < 7.31 { n++ } END { exit n < 2 }'; }
corrected() { panel_says 1011 "^RX \+7 Hz; residual \+0\.[23][0-9]{2} Hz \(rig step 1 Hz\)$"; }
WINDOW=$(e2e_find_window "Tavrene Meter")
# Wine hands captured blocks over in bursts: a reading good in the log may have lapsed by the
# press, which the panel says; pressed again then.
for attempt in 1 2 3; do
    e2e_wait_until 20 good_reading || e2e_fail "no good reading: $(tail -n 3 "$csv")"
    timeout 10 xdotool windowfocus --sync "$WINDOW" && xdotool key --clearmodifiers alt+c ||
        e2e_fail "could not press Alt+C"
    e2e_wait_until 5 corrected && break
    e2e_log "press $attempt: $(panel 1011)"
done
corrected || e2e_fail "Correct RX: $(panel 1011)"
[ "$(rigctl_cmd j)" = 7 ] || e2e_fail "the rig's RIT reads $(rigctl_cmd j), not 7"
e2e_log "$(panel 1011)"

killed=$(date +%s%N)
{ kill -KILL "$RIGCTLD" && wait "$RIGCTLD"; } 2>/dev/null
panel_wait 8 1010 "^Rig 127\.0\.0\.1:$PORT not connected: no rigctld listening$"
e2e_log "$((($(date +%s%N) - killed) / 1000000)) ms after the kill: $(panel 1010)"
e2e_gone "$APP" && e2e_fail "the meter ended with the daemon"
timeout 10 xdotool windowfocus --sync "$WINDOW" && xdotool key --clearmodifiers alt+F4 ||
    e2e_fail "could not press Alt+F4"
e2e_wait_exit "$APP" 10 || e2e_fail "the meter did not end after the close"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE ($(cat "$E2E_WORK/meter.log"))"
e2e_log PASS

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tavrene-meter as a user runs it, one case a row of the table: the real binary on the private
# PulseAudio loopback (what it plays comes back unchanged: df 0) or on the simulated link, On
# pressed at the X server (Space on the focused button) and the --csv log read back. The Windows
# build runs under Wine the same way, on the real user32, gdi32 and winmm. What the readout draws
# is tested in process (tests/meter).
# Usage: e2e_meter.sh HOST PROGRAM TOOLS_BUILD_DIR ARTIFACTS_DIR WORK_DIR [WINE_ROOT]
# HOST: linux; linux-pipewire (the cases on the sound server, on PipeWire's pulse server); or wine
# (the loopback case only: --demo is the Linux build's).
HOST=${1:?linux, linux-pipewire or wine}
PROGRAM=${2:?program}
TOOLS=${3:?tools folder}
ARTIFACTS=${4:?artifacts folder}
E2E_WORK=${5:?work folder}
WINE_ROOT=${6:-}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK" "$ARTIFACTS"
. "$(dirname "$0")/lib.sh"

CAPTION="Tavrene Meter"
# Bound on the first reading in the log after On.
READING_SECONDS=5

# The readout's drawing, negative readings and a refused log are tested in process (tests/meter);
# here is what takes the real binary: its sound server, its options, its log file.
# NAME | OPTIONS | what the readings must show from 2 s after On
#   zero: |df| < 0.005 Hz and verdict good; NUMBER: within 0.005 Hz of it; lost: the sound server
#   dies after the first reading, and no reading stands after it;
#   heard: On is never pressed; the test plays a two-tone offset by +0.5 Hz into the loopback, as
#   another station through the receiver, and the meter reads it as heard.
#   voice: the same with speech (codec2-examples' vk5qi) shifted 15 Hz up, read as voice to 1.5 Hz.
CASES=(
    "loopback | | zero"
    "listen | | heard"
    "voice | | voice"
    "demo-up | --demo --df 0.3 | 0.300"
    "server-lost | | lost"
)

HEADER=time_utc,df_hz,rms,snr_db,verdict,source
# A line of an earlier run: the log is appended to, its columns named once.
EARLIER_LINE=2001-02-03T04:05:06Z,,0.0,,no_signal,heard
# With nothing arriving the meter reads the voice: no_voice.
NOTHING_RE=',,.*,(no_signal,(own|heard)|no_voice,voice)$'
LINE_RE='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z,(-?[0-9]+\.[0-9]{1,4})?,[0-9]+\.[0-9],(-?[0-9]+\.[0-9])?,((no_signal|level_too_low|clipping|good),(own|heard)|(no_voice|listening|reading|ambiguous),voice)$'

if [ "$HOST" = linux-pipewire ]; then
    e2e_start_pipewire
else
    e2e_start_pulse
fi
PULSE_SERVER_PID=$E2E_LAST_PID # PulseAudio, or pipewire-pulse
e2e_start_xvfb
xdotool mousemove --sync 240 180
case $HOST in
linux | linux-pipewire) LAUNCH=("$PROGRAM") ;;
wine)
    e2e_wine_env "$WINE_ROOT"
    [ "$(readlink "$WINEPREFIX/dosdevices/z:")" = / ] || e2e_fail "the prefix has no drive Z: for /"
    e2e_start_wineserver
    # As for tavrene.exe: a server buffer long enough not to underrun on a busy machine.
    LAUNCH=(env PULSE_LATENCY_MSEC=100 WINEDEBUG=-all,warn+pulse "${E2E_WINE_CMD[@]}" "$PROGRAM")
    # With that buffer Wine's capture hands blocks over 0.6 to 3 s after they were heard: the
    # first reading comes that much later.
    READING_SECONDS=9
    ;;
*) e2e_fail "unknown host $HOST" ;;
esac
# The log's path as the program takes it: Wine's drive Z: is the root of the file system.
program_path() {
    if [ "$HOST" = wine ]; then
        local path=${1//\//\\}
        echo "Z:${path}"
    else
        echo "$1"
    fi
}

# The log without the Windows line ends.
csv_text() { tr -d '\r' <"$1"; }
csv_lines_after() { csv_text "$1" | awk -F, -v t="$2" 'NR > 2 && $1 >= t'; }
enough_lines() { [ "$(csv_lines_after "$1" "$2" | wc -l)" -ge 3 ]; }
has_reading() { csv_text "$1" | tail -n +3 | grep -Eq '^[^,]*,-?[0-9]'; }
# Space on the focused button, On/Off: the first control of the dialog.
press_on_off() {
    timeout 10 xdotool windowfocus --sync "$WINDOW" && xdotool key --clearmodifiers space
}

# Lines of the log without a good reading, from 2 s after On, where one was due: none on Linux.
# Under Wine the output underruns now and then on a busy machine, and Wine's driver then fills the
# 8-bit stream with bytes of 0 (see e2e_session.sh): what comes back really is clipped for a moment,
# and the meter rightly gives no reading. Up to two such lines for each underrun Wine reported are
# that; a wrong reading is never excused.
unread_excused() {
    local lines=$1 underruns
    [ "$HOST" = wine ] || return 1
    underruns=$(e2e_wine_underruns "$log")
    ((underruns > 0 && lines <= 2 * underruns)) || return 1
    e2e_log "$name: $lines line(s) without a reading, as Wine's driver reported $underruns underrun(s)"
}

run_case() {
    local name=$1 options=$2 expect=$3 csv=$E2E_WORK/$1.csv log=$E2E_WORK/$1.log
    local args=() t_on from lines first tolerance=0.005 wait_s=$READING_SECONDS
    read -r -a args <<<"$options"
    printf '%s\n' "$HEADER" "$EARLIER_LINE" >"$csv"
    args+=(--csv "$(program_path "$csv")")
    e2e_log "case $name: tavrene-meter ${args[*]}"
    e2e_spawn "${LAUNCH[@]}" "${args[@]}" >"$log" 2>&1
    APP=$E2E_LAST_PID
    window_shown() { WINDOW=$(e2e_find_window "$CAPTION") && [ -n "$WINDOW" ]; }
    e2e_wait_until 30 window_shown || e2e_fail "$name: no window \"$CAPTION\" ($(cat "$log"))"
    sleep 1.2 # a log line or two with the tone off
    if [ "$expect" = heard ]; then
        # Eight seconds of 1000.5 + 2000.5 Hz, at the level the meter's own tone has, with a buffer
        # a busy machine does not underrun (at 50 ms it did: a gap, and a reading 0.017 Hz off).
        LC_ALL=C awk 'BEGIN { for (i = 0; i < 88200; i++) { t = i / 11025
            printf "%c", int(128.5 + 63 * sin(6.283185307 * 1000.5 * t) + 63 * sin(6.283185307 * 2000.5 * t)) } }' |
            pacat --raw --format=u8 --rate=11025 --channels=1 --latency-msec=300 &
        PLAYER=$!
        expect=0.500
        source=heard
    elif [ "$expect" = voice ]; then
        "$TOOLS/ssb_shift/ssb_shift" /usr/share/codec2/wav/vk5qi.wav "$E2E_WORK/voice.wav" 15 ||
            e2e_fail "$name: could not shift the recording"
        paplay --latency-msec=300 "$E2E_WORK/voice.wav" &
        PLAYER=$!
        # The voice's reading rests on a few seconds of speech; between phrases it listens.
        expect=15
        source=voice
        tolerance=1.5
        wait_s=12
    else
        press_on_off || e2e_fail "$name: could not press On"
        source=own
    fi
    t_on=$(date +%s%N)
    e2e_wait_until "$wait_s" has_reading "$csv" ||
        e2e_fail "$name: no reading in the log within $wait_s s of On"
    first=$((($(date +%s%N) - t_on) / 1000000))
    e2e_log "$name: first reading in the log after $first ms"

    if [ "$expect" = lost ]; then
        # Nothing comes back any more: no reading may stand in the log.
        kill -KILL "$PULSE_SERVER_PID"
        local killed_at
        killed_at=$(date +%s)
        sleep 4.5
        e2e_gone "$APP" && e2e_fail "$name: the meter ended with the server"
        from=$(date -u -d "@$((killed_at + 2))" +%Y-%m-%dT%H:%M:%SZ)
        csv_lines_after "$csv" "$from" | grep -Ev "$NOTHING_RE" &&
            e2e_fail "$name: the log has readings after the server died"
    else
        # Steady from 2 s after the first reading, and never earlier than 3 s after On.
        from=$(((t_on / 1000000 + first + 2000) / 1000))
        ((from >= t_on / 1000000000 + 3)) || from=$((t_on / 1000000000 + 3))
        from=$(date -u -d "@$from" +%Y-%m-%dT%H:%M:%SZ)
        e2e_wait_until 10 enough_lines "$csv" "$from" || e2e_fail "$name: the log has no 3 lines from $from"
        [ "$(csv_text "$csv" | head -n 2)" = "$HEADER"$'\n'"$EARLIER_LINE" ] ||
            e2e_fail "$name: the log does not start with the earlier run's: $(head -n 2 "$csv")"
        lines=$(csv_text "$csv" | tail -n +3)
        grep -Fxq "$HEADER" <<<"$lines" && e2e_fail "$name: the columns named again in the log"
        grep -Evq "$LINE_RE" <<<"$lines" && e2e_fail "$name: malformed log lines: $(grep -Ev "$LINE_RE" <<<"$lines")"
        # Before On nothing came back: no reading.
        head -n 1 <<<"$lines" | grep -Eq "$NOTHING_RE" || e2e_fail "$name: a reading before On: $(head -n 1 <<<"$lines")"
        csv_lines_after "$csv" "$from" | awk -F, -v e="$expect" -v source="$source" -v tol="$tolerance" '
            $6 != source { print "wrong " $0; next }
            source != "voice" && $5 != "good" { print "unread " $0; next }
            e == "zero" && !($2 != "" && $2 * $2 < 0.005 ^ 2 && $5 == "good") { print "wrong " $0 }
            e ~ /^[0-9.]+$/ && !($2 != "" && ($2 - e) ^ 2 < tol ^ 2 || $2 == "" && source == "voice") { print "wrong " $0 }
            ' >"$E2E_WORK/$name.bad"
        cp "$csv" "$ARTIFACTS/meter-$HOST-$name.csv"
        if grep -q '^wrong' "$E2E_WORK/$name.bad" ||
            { grep -q '^unread' "$E2E_WORK/$name.bad" &&
                ! unread_excused "$(grep -c '^unread' "$E2E_WORK/$name.bad")"; }; then
            e2e_fail "$name: from 2 s after On the log reads: $(cat "$E2E_WORK/$name.bad")"
        fi
        e2e_log "$name: log: $(csv_text "$csv" | tail -n 1)"
    fi
    e2e_screenshot "$E2E_WORK/$name" && cp "$E2E_WORK/$name.png" "$ARTIFACTS/meter-$HOST-$name.png"
    if [ -n "${PLAYER:-}" ]; then
        kill "$PLAYER" 2>/dev/null
        wait "$PLAYER" 2>/dev/null
        PLAYER=
    fi

    if [ "$name" = loopback ]; then
        # Off: the reading of the tone that stopped ends with it, and what of it is still on its
        # way back is not read as heard.
        press_on_off || e2e_fail "$name: could not press Off"
        local off_at
        off_at=$(date +%s)
        e2e_wait_until 5 e2e_streams -eq 0 || e2e_fail "$name: Off left the tone playing"
        sleep 3.5
        csv_lines_after "$csv" "$(date -u -d "@$((off_at + 2))" +%Y-%m-%dT%H:%M:%SZ)" |
            awk -F, '$2 != ""' | grep . && e2e_fail "$name: the log has readings after Off"
    fi
    if [ "$HOST" = wine ]; then
        # No window manager: Wine's own frame closes on Alt+F4 once the window has the keyboard.
        if ! timeout 10 xdotool windowfocus --sync "$WINDOW" ||
            ! xdotool key --clearmodifiers alt+F4; then
            e2e_fail "$name: could not press Alt+F4"
        fi
    else
        "$TOOLS/x11_close/x11_close" "$WINDOW" || e2e_fail "$name: could not send the close request"
    fi
    e2e_wait_exit "$APP" 10 || e2e_fail "$name: the meter did not end after the close"
    [ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "$name: exit code $E2E_EXIT_CODE ($(cat "$log"))"
}

for row in "${CASES[@]}"; do
    IFS='|' read -r name options expect <<<"$row"
    name=${name// /}
    [[ $HOST == wine && $name != loopback ]] && continue
    [[ $HOST == linux-pipewire && $name != loopback && $name != server-lost ]] && continue
    run_case $name "$(echo $options)" $expect
done
e2e_log PASS

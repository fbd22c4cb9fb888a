#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A user's session with the real program, nothing mocked: the dialog appears, On plays the
# synthesizer's exact bytes, the panes show the figure-eight and the reference curve, Off and On
# again continue the tone's phase, and a close while playing ends the program only after the
# output has closed, with exit code 0.
# On Linux the sound server has two devices of each kind, the second the default (a laptop with a
# rig interface): the program must play to the default sink and listen to the default source, and
# a mixer must be able to move its input to the other source and back while it runs. Wine has its
# own audio driver and gets the plain loopback.
# Usage: e2e_session.sh HOST PROGRAM TOOLS_BUILD_DIR ARTIFACTS_DIR WORK_DIR [WINE_ROOT]
# HOST: linux (PulseAudio), linux-pipewire (PipeWire with its pulse server) or wine (PulseAudio).
# Exit 0 when all holds, 1 when not.
HOST=${1:?linux, linux-pipewire or wine}
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
# How a mixer shows the program's streams.
CLIENT=Tavrene
OUTPUT_STREAM="Two-tone test signal"
INPUT_STREAM="Returned signal"

case $HOST in
linux) e2e_start_pulse two-devices ;;
linux-pipewire)
    e2e_start_pipewire two-devices
    e2e_log "PipeWire, WirePlumber and pipewire-pulse ready in $E2E_PIPEWIRE_START_MS ms"
    ;;
wine) e2e_start_pulse loopback ;;
*) e2e_fail "unknown host $HOST" ;;
esac
TWO_DEVICES=$([ "${#E2E_SINKS[@]}" -eq 2 ] && echo yes)
e2e_start_xvfb
# The dialog centres itself on the mouse pointer: keep it on the screen.
xdotool mousemove --sync 240 180
if [ "$HOST" = wine ]; then
    e2e_wine_env "$WINE_ROOT"
    e2e_start_wineserver
    # Wine's PulseAudio driver asks for a very short server buffer, which underruns on a busy
    # machine; 100 ms makes that rare. Its warnings name each underrun ("Underflow").
    LAUNCH=(env PULSE_LATENCY_MSEC=100 WINEDEBUG=-all,warn+pulse "${E2E_WINE_CMD[@]}" "$PROGRAM")
else
    LAUNCH=("$PROGRAM")
fi
e2e_start_recording "$E2E_WORK/output.raw"
RECORDER=$E2E_LAST_PID
if [ -n "$TWO_DEVICES" ]; then
    e2e_start_recording "$E2E_WORK/builtin.raw" builtin
    BUILTIN_RECORDER=$E2E_LAST_PID
fi

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

# stream_on KIND MEDIA DEVICE: the program's stream is there, on DEVICE; STREAM_INDEX is its index.
STREAM_INDEX=
stream_on() {
    local device
    read -r STREAM_INDEX device < <(e2e_stream "$1" "$CLIENT" "$2") && [ "$device" = "$3" ]
}
# The program's input moved by hand, as with a mixer, while it runs. pipewire-pulse 0.3.65 now
# and then answers a move and never passes it on (about one in 30): like a user, ask again.
move_input() {
    local attempt
    for ((attempt = 1; attempt <= 3; attempt++)); do
        pactl move-source-output "$INPUT_INDEX" "$1" ||
            e2e_fail "could not move \"$INPUT_STREAM\" to $1: $(e2e_describe_streams)"
        if e2e_wait_until 1 stream_on source-output "$INPUT_STREAM" "$1"; then
            [ "$STREAM_INDEX" = "$INPUT_INDEX" ] ||
                e2e_fail "\"$INPUT_STREAM\" was opened again (#$INPUT_INDEX, now #$STREAM_INDEX)"
            e2e_log "moved \"$INPUT_STREAM\" to $1 (attempt $attempt)"
            return 0
        fi
    done
    e2e_fail "\"$INPUT_STREAM\" is not on $1 after three moves: $(e2e_describe_streams)"
}
# The 1000 Hz tone alone, full scale, as the built-in microphone would hear a carrier: 30 s, far
# longer than it is needed, so that it is always stopped midway (an ending stream's last period
# is padded on some servers).
F1_SECONDS=30
f1_tone() {
    LC_ALL=C awk -v n=$((F1_SECONDS * 11025)) 'BEGIN {
        for (i = 0; i < n; i++) { printf "%c", int(63 * sin(p) + 127); p += 1000 * 6.283185 / 11025 }
    }'
}
# The builtin sink heard nothing but the 1000 Hz tone from its start: its silence, then the tone's
# first bytes exactly (at least a capture block of them), then silence.
builtin_heard_only_f1() {
    local first last
    read -r first last < <(od -An -v -tu1 -w1 "$E2E_WORK/builtin.raw" |
        awk '$1 != 128 { if (first == "") first = NR - 1; last = NR - 1 } END { print first, last }')
    [ -n "$first" ] || e2e_fail "builtin heard nothing, not even the 1000 Hz tone"
    local differs
    differs=$(LC_ALL=C cmp -i "$first:0" -n $((last - first + 1)) "$E2E_WORK/builtin.raw" \
        "$E2E_WORK/f1.raw" | awk '{ print $5 + 0 }')
    [ -z "$differs" ] || e2e_fail "builtin heard the 1000 Hz tone from recording byte $first," \
        "exact for $((differs - 1)) bytes, then something else up to byte $last"
    ((last - first + 1 >= 528)) || e2e_fail "builtin heard the 1000 Hz tone only $((last - first + 1)) bytes"
    e2e_log "builtin heard the 1000 Hz tone alone, $((last - first + 1)) bytes exact"
}

# PipeWire 0.3.65 fills a u8 playback stream's underrun with bytes of 0 instead of the format's
# silence (128): a period of them at most, where a stream starts or drains. The
# program sends 16-bit samples, whose gaps are silence; the test's own u8 player still gets such
# runs, and a run of them next to silence is taken as silence there. Any other byte stays.
pipewire_fill_as_silence() {
    od -An -v -tu1 -w1 "$1" | LC_ALL=C awk -v period="$E2E_PIPEWIRE_PERIOD" '
        { b[NR] = $1 }
        END {
            for (i = 1; i <= NR; i = j) {
                j = i + 1
                if (b[i] != 0) continue
                while (j <= NR && b[j] == 0) j++
                if (j - i <= period && (i == 1 || b[i - 1] == 128 || j > NR || b[j] == 128)) {
                    for (k = i; k < j; k++) b[k] = 128
                    printf "%d-%d ", i - 1, j - 2 >"/dev/stderr"
                }
            }
            for (i = 1; i <= NR; i++) printf "%c", b[i]
        }' >"$1.as-heard" 2>"$1.fill" || e2e_fail "could not read $1"
    mv "$1.as-heard" "$1"
    [ ! -s "$1.fill" ] ||
        e2e_log "PipeWire's underrun fill in $(basename "$1") taken as silence: bytes $(cat "$1.fill")"
}

shot start idle
press_on_off
ON_AT=$(date +%s%N)
e2e_wait_until 5 e2e_streams -ge 1 || e2e_fail "On played nothing"
if [ -n "$TWO_DEVICES" ]; then
    e2e_wait_until 5 stream_on sink-input "$OUTPUT_STREAM" rig ||
        e2e_fail "no stream \"$OUTPUT_STREAM\" of \"$CLIENT\" on the default sink: $(e2e_describe_streams)"
    e2e_wait_until 5 stream_on source-output "$INPUT_STREAM" rigin ||
        e2e_fail "no stream \"$INPUT_STREAM\" of \"$CLIENT\" on the default source: $(e2e_describe_streams)"
    INPUT_INDEX=$STREAM_INDEX
    e2e_log "\"$CLIENT\" plays \"$OUTPUT_STREAM\" on rig and records \"$INPUT_STREAM\" from rigin"

    f1_tone >"$E2E_WORK/f1.raw"
    e2e_spawn pacat -d builtin --format=u8 --rate=11025 --channels=1 --raw \
        --client-name="$E2E_OWN_PLAYER" --stream-name="1000 Hz" "$E2E_WORK/f1.raw"
    F1_PLAYER=$E2E_LAST_PID
    e2e_wait_until 5 e2e_stream sink-input "$E2E_OWN_PLAYER" "1000 Hz" >/dev/null ||
        e2e_fail "the 1000 Hz tone does not play"
    # The microphone hears the 1000 Hz tone, but the program listens to the default input.
    shot playing playing
    move_input mic
    shot on-mic f1-only
    move_input rigin
    shot back-on-rigin playing
    e2e_stop_pid "$F1_PLAYER"
    move_input mic
    shot mic-silent silent
    move_input rigin
    left_ms=$((FIRST_TONE_SECONDS * 1000 - ($(date +%s%N) - ON_AT) / 1000000))
    ((left_ms <= 0)) || sleep "$((left_ms / 1000)).$(printf %03d $((left_ms % 1000)))"
else
    sleep 2
    shot playing playing
    sleep $((FIRST_TONE_SECONDS - 2))
fi
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
if [ -n "$TWO_DEVICES" ]; then
    e2e_stop_pid "$BUILTIN_RECORDER"
fi
if [ "$HOST" = linux-pipewire ]; then
    pipewire_fill_as_silence "$E2E_WORK/builtin.raw"
fi
# Every byte the program played must sound, in order. Only an underrun Wine's driver reports may
# pause the tone, and leaves at most two pauses, each followed by the very byte that was due: the
# server's silence until it has data again, then the bytes of 0 Wine writes into an 8-bit stream
# as its own filler when it resumes (measured: 78 + 218 and 94 + 439 bytes, nothing skipped).
PAUSES=0
if [ "$HOST" = wine ]; then
    UNDERRUNS=$(e2e_wine_underruns "$E2E_WORK/program.log")
    PAUSES=$((2 * UNDERRUNS))
    ((UNDERRUNS == 0)) || e2e_log "Wine's driver reported $UNDERRUNS underrun(s) of the output"
fi
"$TOOLS/tone_check/tone_check" "$E2E_WORK/output.raw" 5 1 "$PAUSES" ||
    e2e_fail "the recorded output is not the exact tone"
[ -z "$TWO_DEVICES" ] || builtin_heard_only_f1
e2e_log "PASS"

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tavrene-meter --read with no display and no sound server: two copies of speech shifted as a
# mistuned receiver shifts it, whose readings must differ by the shifts' difference (the
# recording's own offset cancels), and the files it cannot read, each with its cause named.
# Usage: e2e_meter_read.sh PROGRAM SSB_SHIFT WORK_DIR [readings: the readings too, by the voice]
PROGRAM=${1:?program}
SHIFT=${2:?ssb_shift}
E2E_WORK=${3:?work folder}
READINGS=${4:-}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

SPEECH=/usr/share/codec2/wav/vk5qi.wav SECONDS_IN=13 # speech off the air, 8 kHz (codec2-examples)
[ -r "$SPEECH" ] || e2e_fail "$SPEECH is missing: the package codec2-examples"
read_file() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PULSE_SERVER=unix:/nonexistent \
        timeout -k 2 60 "$PROGRAM" --read "$1" >"$E2E_WORK/out" 2>"$E2E_WORK/err"
}

# The files it cannot read, NAME:the cause named; each exits with 2.
: >"$E2E_WORK/empty.wav"
echo 'not a recording' >"$E2E_WORK/text.wav"
head -c 20000 "$SPEECH" >"$E2E_WORK/cut.wav"
for row in missing.wav:'No such file' empty.wav:'is empty' text.wav:'not an audio' cut.wav:truncated; do
    name=${row%%:*} cause=${row#*:}
    read_file "$E2E_WORK/$name"
    rc=$?
    e2e_log "$name: exit code $rc; $(cat "$E2E_WORK/err")"
    [ "$rc" -eq 2 ] && grep -q "$name: .*$cause" "$E2E_WORK/err" ||
        e2e_fail "$name: not exit code 2 with '$cause'"
done

# The two copies: every line a second with the log's columns, then the summary; the readings
# (which need the voice estimator) 25 Hz apart.
LINE_RE='^[0-9]+,(-?[0-9]+\.[0-9]+)?,[0-9]+\.[0-9],(-?[0-9]+\.[0-9])?,(no_signal|level_too_low|clipping|good|no_voice|listening|reading|ambiguous),(heard|voice)$'
declare -A DF UNCERTAINTY
for shift in 15 -10; do
    file=$E2E_WORK/shifted$shift.wav
    "$SHIFT" "$SPEECH" "$file" "$shift" || e2e_fail "ssb_shift failed"
    read_file "$file"
    rc=$?
    e2e_log "shifted by $shift Hz: exit code $rc; $(tail -n 1 "$E2E_WORK/out")"
    [ "$(head -n 1 "$E2E_WORK/out")" = seconds,df_hz,rms,snr_db,verdict,source ] &&
        [ "$(sed '1d;$d' "$E2E_WORK/out" | grep -cE "$LINE_RE")" -eq "$SECONDS_IN" ] &&
        tail -n 1 "$E2E_WORK/out" | grep -q "^# shifted$shift.wav: " ||
        e2e_fail "not the header, a line in the log's columns a second, and the summary"
    [ -n "$READINGS" ] || continue
    [ "$rc" -eq 0 ] || e2e_fail "no reading of speech shifted by $shift Hz (exit code $rc)"
    read -r DF[$shift] UNCERTAINTY[$shift] < <(tail -n 1 "$E2E_WORK/out" |
        grep -oE 'voice [-+][0-9.]+ Hz \+- [0-9.]+' | tail -n 1 | awk '{print $2, $5}')
    [ -n "${DF[$shift]}" ] || e2e_fail "the summary has no voice reading"
done
[ -n "$READINGS" ] || { e2e_log PASS; exit 0; }
# Within three of the readings' combined standard deviations, and never looser than 3 Hz.
awk -v a="${DF[15]}" -v b="${DF[-10]}" -v ua="${UNCERTAINTY[15]}" -v ub="${UNCERTAINTY[-10]}" \
    'BEGIN { d = a - b - 25; if (d < 0) d = -d; s = 3 * sqrt(ua * ua + ub * ub);
             exit !(d <= (s > 3 ? s : 3)) }' ||
    e2e_fail "readings ${DF[15]} and ${DF[-10]} Hz are not 25 Hz apart"
e2e_log "PASS: readings ${DF[15]} +- ${UNCERTAINTY[15]} and ${DF[-10]} +- ${UNCERTAINTY[-10]} Hz"

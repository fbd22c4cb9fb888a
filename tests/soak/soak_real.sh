#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program toggled every half second for SECONDS of real time with capture running,
# under a private X display and PulseAudio loopback. Resident memory and the number of X windows
# are sampled every few seconds; growth per hour is the least-squares slope of resident memory
# after the first fifth of the run (warm-up). Fails when the program dies, stops answering the
# button, leaves windows behind or grows faster than MAX_MB_PER_HOUR.
# Usage: soak_real.sh PROGRAM BUILD_DIR WORK_DIR SECONDS MAX_MB_PER_HOUR [RESULT_FILE]
PROGRAM=${1:?program}
BUILD=${2:?build folder}
TOOLS=$BUILD/tests/tools
PROBES=$BUILD/bench
E2E_WORK=${3:?work folder}
SECONDS_TO_RUN=${4:?seconds}
MAX_GROWTH=${5:?MB per hour}
RESULT=${6:-}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
here=$(dirname "$0")
. "$here/../e2e/lib.sh"
. "$here/../../bench/lib.sh"

e2e_start_pulse
e2e_start_xvfb
real_start "$PROGRAM"
real_aim
e2e_log "program $APP up in $STARTUP_MS ms; toggling every 0.5 s for $SECONDS_TO_RUN s"

SAMPLES=$E2E_WORK/samples
: >"$SAMPLES"
SAMPLE_EVERY=$((SECONDS_TO_RUN >= 300 ? 10 : 2))
start=$(date +%s%N)
presses=0
next_sample=0
missed=0
while :; do
    now=$(date +%s%N)
    elapsed_ms=$(((now - start) / 1000000))
    ((elapsed_ms < SECONDS_TO_RUN * 1000)) || break
    e2e_gone "$APP" && e2e_fail "the program died after $elapsed_ms ms"
    if ((elapsed_ms >= next_sample * 1000)); then
        echo "$elapsed_ms $(real_rss_kb) $(real_x_windows)" >>"$SAMPLES"
        next_sample=$((next_sample + SAMPLE_EVERY))
    fi
    real_press
    presses=$((presses + 1))
    # An odd count means the tone should be on: its stream must come and go with the button.
    if ((presses % 20 == 1)); then
        e2e_wait_until 2 e2e_streams -ge 1 || missed=$((missed + 1))
    elif ((presses % 20 == 2)); then
        e2e_wait_until 2 e2e_streams -eq 0 || missed=$((missed + 1))
    fi
    # Back on the half-second grid, whatever the press cost.
    next=$((start + presses * 500000000))
    wait_ns=$((next - $(date +%s%N)))
    ((wait_ns > 0)) && sleep "$(printf '0.%09d' "$wait_ns")"
done
echo "$(((($(date +%s%N) - start) / 1000000))) $(real_rss_kb) $(real_x_windows)" >>"$SAMPLES"
# Leave the tone on, so that the close has to stop it first.
((presses % 2 == 1)) || real_press
e2e_wait_until 2 e2e_streams -ge 1 || missed=$((missed + 1))
peak=$(real_peak_rss_kb)
real_close

# Slope after warm-up, windows min/max, first and last resident size.
read -r growth first last wmin wmax n < <(awk -v total="$SECONDS_TO_RUN" '
    $1 >= total * 200 {
        x = $1 / 3600000; y = $2 / 1024; n++; sx += x; sy += y; sxx += x * x; sxy += x * y
        if (n == 1) first = y; last = y
        if (wmin == "" || $3 < wmin) wmin = $3; if ($3 > wmax) wmax = $3
    }
    END { printf "%.3f %.2f %.2f %d %d %d\n", (n * sxy - sx * sy) / (n * sxx - sx * sx), first, last, wmin, wmax, n }
' "$SAMPLES")
summary="$SECONDS_TO_RUN s, $presses presses, resident $first -> $last MB after warm-up ($n samples), growth $growth MB/h, peak $((peak / 1024)) MB, X windows $wmin..$wmax, close took $CLOSE_MS ms, missed toggles $missed"
e2e_log "$summary"
[ -n "$RESULT" ] && echo "$summary" >"$RESULT"
cp "$SAMPLES" "$E2E_WORK/../soak-samples.txt" 2>/dev/null

[ "$missed" -eq 0 ] || e2e_fail "$missed presses were not followed by the tone"
[ "$wmin" -eq "$wmax" ] || e2e_fail "the number of X windows changed ($wmin..$wmax)"
[ "$CLOSE_MS" -le 1000 ] || e2e_fail "the close took $CLOSE_MS ms"
awk -v g="$growth" -v m="$MAX_GROWTH" 'BEGIN { exit !(g < m) }' || e2e_fail "growth $growth MB/h"
e2e_log PASS

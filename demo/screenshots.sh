#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Screenshots of tavrene-demo for the documentation: the window a few seconds after On, for
# each offset given. Runs on a private Xvfb display; stops everything it started by PID.
# Usage: demo/screenshots.sh BUILD_DIR OUT_DIR [DF...]   (default offsets: 0 2)
set -euo pipefail

build=$(realpath "${1:?build directory}")
out=${2:?output directory}
shift 2
offsets=("$@")
((${#offsets[@]})) || offsets=(0 2)
demo=$build/tavrene-demo
[[ -x $demo ]] || { echo "no $demo: build the tavrene-demo target first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do
        kill -TERM "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
[[ -s $work/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
unset QT_QPA_PLATFORM

for df in "${offsets[@]}"; do
    "$demo" --df "$df" 2>"$work/demo.log" &
    pid=$!
    pids+=("$pid")
    win=$(timeout 10 xdotool search --sync --onlyvisible --name "SSB Tavrene" | head -n1)
    [[ -n $win ]] || { echo "the demo window did not appear" >&2; exit 1; }
    sleep 0.5
    # On/Off is the first tab stop and has the focus: Space presses it.
    xdotool windowfocus --sync "$win" key space
    sleep 3
    file=$out/demo-df$df.png
    import -window "$win" "$file"
    echo "$file"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
done

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the conformance tests cross-built for Windows (tests/conformance/windows) under Wine, on a
# private X display and a private PulseAudio loopback, so that the real user32 can show dialogs
# and winmm has a waveform device to open.
# Usage: e2e_wine_conformance.sh PROGRAM WORK_DIR WINE_ROOT [GTEST_ARGS...]
PROGRAM=${1:?program}
E2E_WORK=${2:?work folder}
WINE_ROOT=${3:?wine root}
shift 3
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

[ -f "$PROGRAM" ] || e2e_fail "no $PROGRAM"
e2e_start_pulse loopback
e2e_start_xvfb
e2e_wine_env "$WINE_ROOT"
# A crash ends the program instead of waiting in the debugger.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedbg.exe=d"
e2e_start_wineserver
e2e_wine 150 "$PROGRAM" --gtest_color=no "$@"
rc=$?
[ "$rc" -eq 0 ] || e2e_fail "the conformance tests under Wine ended with $rc"
e2e_log PASS

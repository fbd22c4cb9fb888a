#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The ThreadSanitizer build's threaded tests: the application and the meter in process (simulated
# path; the meter's rig link has a thread of its own), the
# host-audio (libpulse) wave tests and the sound-server faults, each on a fresh private
# PulseAudio server. Any report fails the run; TSAN_HALT=0 lets each test run
# on and list every report.
# Usage: run_tsan.sh TSAN_BUILD_DIR SUPPRESSIONS
BUILD=$(realpath "${1:?tsan build folder}")
SUPP=$(realpath "${2:?suppressions file}")
here=$(cd "$(dirname "$0")" && pwd)
export TSAN_OPTIONS="suppressions=$SUPP halt_on_error=${TSAN_HALT:-1} exitcode=66 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen
# Qt's own event dispatcher instead of GLib's: GLib's threads synchronise in ways the sanitizer
# cannot see, and once in a while it reported a race wholly inside GLib.
export QT_NO_GLIB=1
export TAVRENE_ARTIFACTS=$BUILD/artifacts
rc=0
passed=0
failed=0
step() {
    local name=$1
    shift
    echo "== tsan: $name"
    if timeout -k 5 600 "$here/with_pulse.sh" "$@"; then
        passed=$((passed + 1))
    else
        echo "== tsan: $name FAILED"
        failed=$((failed + 1))
        rc=1
    fi
}
step app pulse "$BUILD/tsan/app" "$BUILD/tests/test_app"
# The meter's rig link runs on a thread of its own.
step meter none "$BUILD/tsan/meter" "$BUILD/tests/test_meter"
step wave_pulse pulse "$BUILD/tsan/wave" "$BUILD/tests/test_faults" --gtest_filter='PulseWave.*'
step no_server none "$BUILD/tsan/none" "$BUILD/tests/test_faults" \
    --gtest_filter='SoundServer.NoServerAtStartWarnsAndStaysUsable:PulseWave.*'
step killed_playing pulse "$BUILD/tsan/killed1" "$BUILD/tests/test_faults" \
    --gtest_filter=SoundServer.ServerKilledWhileTheTonePlaysThenBack
step killed_off pulse "$BUILD/tsan/killed2" "$BUILD/tests/test_faults" \
    --gtest_filter=SoundServer.ServerKilledWhileTheToneIsOff
step input_stops pulse "$BUILD/tsan/input" "$BUILD/tests/test_faults" \
    --gtest_filter='SoundServer.AnInputThatStopsDelivering*'
echo "tsan: $passed passed, $failed failed"
exit "$rc"

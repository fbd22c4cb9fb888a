#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a private sound server, or with none reachable at all.
#   with_pulse.sh pulse|pipewire|empty|none WORK_DIR COMMAND...
# pulse: a private PulseAudio loopback (null sink, its monitor as the default input). pipewire:
# the same on PipeWire, TAVRENE_PULSE_PID being pipewire-pulse, a stop of which costs its record
# streams a period (TAVRENE_RECORD_PERIOD samples). empty: a
# server with no device at all. none: the client is pointed at a socket that does not exist and
# may not spawn a server of its own. TAVRENE_SOUND_SERVER says which (loopback, empty, none).
# With a server, TAVRENE_PULSE_PID holds its PID so that a test can kill it, and a SIGUSR2 to
# TAVRENE_PULSE_SUPERVISOR (this script) starts it again, writing the new PID to
# TAVRENE_PULSE_PIDFILE. Whatever was started is stopped by PID on the way out.
MODE=${1:?pulse, pipewire, empty or none}
E2E_WORK=${2:?work folder}
shift 2
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/../e2e/lib.sh"

export TAVRENE_PULSE_PIDFILE=$E2E_WORK/server.pid
export TAVRENE_PULSE_SUPERVISOR=$$
case $MODE in
pulse)
    e2e_start_pulse
    export TAVRENE_SOUND_SERVER=loopback
    ;;
pipewire)
    e2e_start_pipewire
    export TAVRENE_SOUND_SERVER=loopback TAVRENE_RECORD_PERIOD=$E2E_PIPEWIRE_PERIOD
    ;;
empty)
    e2e_start_pulse empty
    export TAVRENE_SOUND_SERVER=empty
    ;;
none)
    e2e_pulse_client_env "$E2E_WORK/no-pulse" # a socket nothing listens on
    export TAVRENE_SOUND_SERVER=none
    E2E_LAST_PID=
    ;;
*) e2e_fail "unknown mode $MODE" ;;
esac
export TAVRENE_PULSE_PID=$E2E_LAST_PID
echo "$E2E_LAST_PID" >"$TAVRENE_PULSE_PIDFILE"

# The same server again, after a test killed it (it stays in E2E_PIDS for the trap).
restart_server() {
    [ "$MODE" = pulse ] || return
    e2e_start_pulse
    echo "$E2E_LAST_PID" >"$TAVRENE_PULSE_PIDFILE.new"
    mv "$TAVRENE_PULSE_PIDFILE.new" "$TAVRENE_PULSE_PIDFILE"
}
trap restart_server USR2

# In the background, so that the trap can still stop the server if this script is interrupted.
e2e_spawn "$@"
CMD=$E2E_LAST_PID
while :; do
    wait "$CMD"
    rc=$?
    kill -0 "$CMD" 2>/dev/null || break # a trapped signal ends a wait early
done
# It has been reaped: the trap must not signal its PID again.
for i in "${!E2E_PIDS[@]}"; do
    [ "${E2E_PIDS[i]}" = "$CMD" ] && unset 'E2E_PIDS[i]'
done
E2E_PIDS=("${E2E_PIDS[@]}")
exit "$rc"

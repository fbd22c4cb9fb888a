#!/bin/bash
# Runs a command with a private sound server, or with none reachable at all.
#   with_pulse.sh pulse|none WORK_DIR COMMAND...
# pulse: a private PulseAudio loopback (null sink, its monitor as the default input); the command
# finds it through the exported PULSE_* variables and TAVRENE_PULSE_PID holds the server's PID,
# so that a test can kill it. none: the client is pointed at a socket that does not exist and
# may not spawn a server of its own. Whatever was started is stopped by PID on the way out.
MODE=${1:?pulse or none}
E2E_WORK=${2:?work folder}
shift 2
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/../e2e/lib.sh"

case $MODE in
pulse)
    e2e_start_pulse
    export TAVRENE_PULSE_PID=$E2E_LAST_PID
    ;;
none)
    export PULSE_RUNTIME_PATH=$E2E_WORK/no-pulse
    export PULSE_CLIENTCONFIG=$E2E_WORK/client.conf
    export PULSE_SERVER=unix:$E2E_WORK/no-pulse/native
    mkdir -p "$PULSE_RUNTIME_PATH"
    printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
    unset TAVRENE_PULSE_PID
    ;;
*) e2e_fail "unknown mode $MODE" ;;
esac

# In the background, so that the trap can still stop the server if this script is interrupted.
e2e_spawn "$@"
CMD=$E2E_LAST_PID
wait "$CMD"
rc=$?
# It has been reaped: the trap must not signal its PID again.
for i in "${!E2E_PIDS[@]}"; do
    [ "${E2E_PIDS[i]}" = "$CMD" ] && unset 'E2E_PIDS[i]'
done
E2E_PIDS=("${E2E_PIDS[@]}")
exit "$rc"

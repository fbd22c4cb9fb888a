# Shared harness of the whole-program tests: private PulseAudio loopback, private X display,
# bounded waits, and a trap that stops by PID everything a test started, also when it fails.
# Sourced by the e2e_*.sh scripts; needs E2E_WORK (a fresh scratch folder for this test).

set -u -o pipefail
E2E_WORK=$(realpath -m "$E2E_WORK")

E2E_PIDS=()
E2E_LAST_PID=
E2E_CLEANUPS=()
E2E_AFTER=()

e2e_log() { printf '[%s] %s\n' "$(date +%H:%M:%S.%N | cut -c1-12)" "$*" >&2; }
e2e_fail() {
    e2e_log "FAIL: $*"
    exit 1
}

# Starts a command in the background and remembers its PID for the trap (E2E_LAST_PID).
e2e_spawn() {
    "$@" &
    E2E_LAST_PID=$!
    E2E_PIDS+=("$E2E_LAST_PID")
}

# Stops one process by PID: TERM, then KILL if it is still there after 3 s.
e2e_stop_pid() {
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 150; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.02
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

e2e_cleanup() {
    local rc=$? i
    for ((i = ${#E2E_CLEANUPS[@]} - 1; i >= 0; i--)); do
        eval "${E2E_CLEANUPS[i]}" || true
    done
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        e2e_stop_pid "${E2E_PIDS[i]}"
    done
    for ((i = 0; i < ${#E2E_AFTER[@]}; i++)); do
        eval "${E2E_AFTER[i]}" || true
    done
    exit "$rc"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

# e2e_wait_until SECONDS COMMAND...: polls every 50 ms; false if the time runs out. COMMAND is run
# afresh each time: pass a function, not a "$(...)" that the shell expands once.
e2e_wait_until() {
    local limit=$1 deadline
    shift
    deadline=$(($(date +%s%N) + ${limit%.*} * 1000000000))
    until "$@"; do
        (($(date +%s%N) < deadline)) || return 1
        sleep 0.05
    done
}

# e2e_wait_exit PID SECONDS: waits for a spawned process to end and sets E2E_EXIT_CODE;
# false if it is still running when the time runs out.
e2e_wait_exit() {
    local pid=$1 limit=$2
    e2e_wait_until "$limit" e2e_gone "$pid" || return 1
    wait "$pid"
    E2E_EXIT_CODE=$?
}
e2e_gone() { ! kill -0 "$1" 2>/dev/null; }

# A private PulseAudio server whose null sink plays u8 mono 11025 Hz without resampling and whose
# monitor comes back as the default input. Exports what clients need to find it.
e2e_start_pulse() {
    export PULSE_RUNTIME_PATH=$E2E_WORK/pulse
    export PULSE_STATE_PATH=$E2E_WORK/pulse/state
    export PULSE_CLIENTCONFIG=$E2E_WORK/pulse/client.conf
    export PULSE_SERVER=unix:$PULSE_RUNTIME_PATH/native
    mkdir -p "$PULSE_STATE_PATH"
    printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
    e2e_spawn pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
        --load="module-null-sink sink_name=nullsink format=u8 rate=11025 channels=1 norewinds=1" \
        --load="module-remap-source master=nullsink.monitor source_name=loopin" \
        --load=module-native-protocol-unix --log-level=error 2>>"$E2E_WORK/pulse.log"
    e2e_wait_until 10 pactl info >/dev/null 2>&1 || e2e_fail "PulseAudio did not start"
    pactl set-default-sink nullsink && pactl set-default-source loopin
}

# Records the sink's monitor (u8 mono 11025 raw) into FILE; E2E_LAST_PID is the recorder.
e2e_start_recording() {
    e2e_spawn parec -d nullsink.monitor --format=u8 --rate=11025 --channels=1 --raw \
        --latency-msec=20 "$1"
    e2e_wait_until 5 test -s "$1" || e2e_fail "the recorder wrote nothing"
}

# A private X server with a 24-bit screen and no window manager. Exports DISPLAY.
e2e_start_xvfb() {
    local fdfile=$E2E_WORK/display
    : >"$fdfile"
    e2e_spawn Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$fdfile" \
        2>>"$E2E_WORK/xvfb.log"
    e2e_wait_until 10 grep -q '[0-9]' "$fdfile" || e2e_fail "Xvfb did not start"
    export DISPLAY=:$(tr -dc 0-9 <"$fdfile")
    e2e_wait_until 5 xdpyinfo >/dev/null 2>&1 || e2e_fail "Xvfb does not answer"
}

# Prints the X window id of the visible window with exactly this title.
e2e_find_window() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

# Screenshot of the whole screen as PPM (for checking) and PNG (for people).
e2e_screenshot() {
    import -display "$DISPLAY" -window root -depth 8 "$1.ppm" &&
        /usr/bin/convert-im6.q16 "$1.ppm" "$1.png"
}

# Number of the nullsink's playback streams; e2e_streams OP N compares it (for e2e_wait_until).
e2e_playing_streams() { pactl list short sink-inputs 2>/dev/null | grep -c .; }
e2e_streams() { test "$(e2e_playing_streams)" "$1" "$2"; }

# Wine, private to one folder: prefix, home and a generated Japanese locale (the dialog's font name
# and texts go through the ANSI code page, which must be Japanese for them to survive).
E2E_WINE=/usr/lib/wine/wine64
E2E_WINESERVER=/usr/lib/wine/wineserver64
e2e_wine_env() {
    local root=$1
    export WINEPREFIX=$root/prefix HOME=$root/home WINEARCH=win64 WINELOADER=$E2E_WINE
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    E2E_WINE_CMD=(env LOCPATH="$root/locale" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$E2E_WINE")
    mkdir -p "$HOME" "$WINEPREFIX"
}

# Runs a Wine program under the Japanese locale (set per command: the shell itself stays in C).
e2e_wine() { timeout "$1" "${E2E_WINE_CMD[@]}" "${@:2}"; }

# The prefix's own server, run in the foreground so the trap can stop it by PID.
e2e_start_wineserver() {
    e2e_spawn "$E2E_WINESERVER" -f -p
    # Wine's own helper processes (services, explorer, ...) hang off this server: end them
    # through it before the server itself is stopped.
    E2E_CLEANUPS+=('timeout 10 "$E2E_WINESERVER" -k')
    e2e_wait_until 10 e2e_wineserver_ready || e2e_fail "wineserver did not start"
}
# The server's socket sits in a folder named after the prefix's device and inode, inside
# /tmp/.wine-UID or a fresh /tmp/wine-XXXXXX of its own (removed once the server has stopped).
e2e_wineserver_ready() {
    local name socket
    name=server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")
    socket=$(compgen -G "/tmp/wine-*/$name/socket" || compgen -G "/tmp/.wine-$(id -u)/$name/socket") ||
        return 1
    case $socket in
    /tmp/wine-*) E2E_AFTER+=("rm -rf '${socket%/"$name"/socket}'") ;;
    esac
}

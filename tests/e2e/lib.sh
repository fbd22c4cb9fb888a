# SPDX-License-Identifier: GPL-3.0-or-later
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

# Sound-server layouts, the same on PulseAudio and on PipeWire's pulse server. Every device plays
# u8 mono 11025 Hz, so what a client plays comes back byte for byte.
#   loopback     the null sink "nullsink"; its monitor comes back as the source "loopin".
#   two-devices  a laptop with a rig interface plugged in: sinks "builtin" then "rig", sources "mic"
#                (hears builtin) then "rigin" (hears rig); rig and rigin are the defaults, so a
#                client that takes the first device it lists gets the wrong one.
# e2e_use_layout LAYOUT sets E2E_SINKS and E2E_SOURCES, in listing order, the defaults last.
e2e_use_layout() {
    case $1 in
    loopback) E2E_SINKS=(nullsink) E2E_SOURCES=(loopin) ;;
    two-devices) E2E_SINKS=(builtin rig) E2E_SOURCES=(mic rigin) ;;
    empty) E2E_SINKS=() E2E_SOURCES=() ;; # a server with no device at all
    *) e2e_fail "unknown sound layout $1" ;;
    esac
}
# Prints the layout's modules, one "NAME ARGUMENTS" a line; SINK_OPTIONS go to every null sink.
e2e_layout_modules() {
    local sink_options=${1:-} i
    for i in "${!E2E_SINKS[@]}"; do
        echo "module-null-sink sink_name=${E2E_SINKS[i]} format=u8 rate=11025 channels=1 $sink_options"
    done
    # A stereo remap of the mono monitor is not byte-exact on PipeWire.
    for i in "${!E2E_SOURCES[@]}"; do
        echo "module-remap-source master=${E2E_SINKS[i]}.monitor source_name=${E2E_SOURCES[i]}" \
            "channels=1 channel_map=mono"
    done
}
e2e_default_sink() { echo "${E2E_SINKS[-1]}"; }
e2e_default_source() { echo "${E2E_SOURCES[-1]}"; }

# Makes the layout's last sink and source the defaults and checks what a client lists: the sinks
# and the sources other than monitors in the layout's order, and the defaults.
e2e_set_defaults() {
    [ ${#E2E_SINKS[@]} -gt 0 ] || return 0
    if ! pactl set-default-sink "$(e2e_default_sink)" ||
        ! pactl set-default-source "$(e2e_default_source)"; then
        e2e_fail "could not set the default devices"
    fi
    e2e_wait_until 10 e2e_layout_listed || e2e_fail "the sound devices are not as laid out: $(
        pactl list short sinks
        pactl list short sources
        pactl info | grep '^Default'
    )"
}
e2e_layout_listed() {
    local info
    info=$(pactl info 2>/dev/null) || return 1
    [ "$(pactl list short sinks | cut -f2 | tr '\n' ' ')" = "${E2E_SINKS[*]} " ] &&
        [ "$(pactl list short sources | cut -f2 | grep -v '\.monitor$' | tr '\n' ' ')" = "${E2E_SOURCES[*]} " ] &&
        grep -qx "Default Sink: $(e2e_default_sink)" <<<"$info" &&
        grep -qx "Default Source: $(e2e_default_source)" <<<"$info"
}

# Exports what clients need to reach a private pulse socket in FOLDER, and nothing else.
e2e_pulse_client_env() {
    export PULSE_RUNTIME_PATH=$1
    export PULSE_CLIENTCONFIG=$1/client.conf
    export PULSE_SERVER=unix:$1/native
    mkdir -p "$1"
    printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
}

# e2e_start_pulse [LAYOUT]: a private PulseAudio server with the layout (loopback unless given);
# null sinks without rewinds, so that capture latency stays short. E2E_LAST_PID is the server.
e2e_start_pulse() {
    local module loads=()
    e2e_use_layout "${1:-loopback}"
    e2e_pulse_client_env "$E2E_WORK/pulse"
    export PULSE_STATE_PATH=$E2E_WORK/pulse/state
    mkdir -p "$PULSE_STATE_PATH"
    while read -r module; do
        loads+=("--load=$module")
    done < <(e2e_layout_modules norewinds=1)
    e2e_spawn pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no "${loads[@]}" \
        --load=module-native-protocol-unix --log-level=error 2>>"$E2E_WORK/pulse.log"
    local server=$E2E_LAST_PID
    e2e_wait_until 10 pactl info >/dev/null 2>&1 || e2e_fail "PulseAudio did not start"
    e2e_set_defaults
    E2E_LAST_PID=$server
}

# e2e_start_pipewire [LAYOUT]: a private, headless PipeWire with WirePlumber and its pulse server
# (no D-Bus), serving the layout to pulse clients exactly as e2e_start_pulse does. The graph runs
# at 11025 Hz, so nothing is resampled, and always in periods of E2E_PIPEWIRE_PERIOD samples: when
# a stream asking for a shorter period joins or leaves a device, PipeWire 0.3.65 changes the period
# of the running graph and its pulse streams lose or repeat a few hundred bytes; and a recorder
# that misses a cycle records silence for that period, rarely at 1024 samples on a busy machine,
# often at 256 (docs/reliability.md). E2E_PIPEWIRE_START_MS is how long the start took.
E2E_PIPEWIRE_PERIOD=1024
e2e_start_pipewire() {
    local root=$E2E_WORK/pipewire started module program
    for program in pipewire wireplumber pipewire-pulse; do
        command -v "$program" >/dev/null || e2e_fail "$program is not installed"
    done
    started=$(date +%s%N)
    e2e_use_layout "${1:-loopback}"
    mkdir -p "$root/home" "$root/config/pipewire/pipewire.conf.d" \
        "$root/config/wireplumber/main.lua.d" "$root/state"
    mkdir -p "$root/run" && chmod 700 "$root/run"
    printf '%s\n' 'context.properties = {' '  default.clock.rate = 11025' \
        '  default.clock.allowed-rates = [ 11025 ]' \
        "  default.clock.quantum = $E2E_PIPEWIRE_PERIOD" \
        "  default.clock.min-quantum = $E2E_PIPEWIRE_PERIOD" \
        "  default.clock.max-quantum = $E2E_PIPEWIRE_PERIOD" '}' \
        >"$root/config/pipewire/pipewire.conf.d/50-e2e-clock.conf"
    # Without these WirePlumber wants D-Bus and exits at once.
    printf '%s\n' 'alsa_monitor.properties["alsa.reserve"] = false' \
        'default_access.properties["enable-flatpak-portal"] = false' \
        >"$root/config/wireplumber/main.lua.d/51-e2e-no-dbus.lua"
    local server_env=(env -u DBUS_SESSION_BUS_ADDRESS HOME="$root/home" XDG_CONFIG_HOME="$root/config"
        XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/run" PIPEWIRE_RUNTIME_DIR="$root/run"
        PULSE_RUNTIME_PATH="$root/run/pulse")
    e2e_pulse_client_env "$root/run/pulse"
    # WirePlumber started before PipeWire's socket exists gives up at once.
    e2e_spawn "${server_env[@]}" pipewire 2>>"$E2E_WORK/pipewire.log"
    e2e_wait_until 10 test -S "$root/run/pipewire-0" || e2e_fail "PipeWire did not start"
    e2e_spawn "${server_env[@]}" wireplumber 2>>"$E2E_WORK/wireplumber.log"
    e2e_spawn "${server_env[@]}" pipewire-pulse 2>>"$E2E_WORK/pipewire-pulse.log"
    e2e_wait_until 10 pactl info >/dev/null 2>&1 || e2e_fail "pipewire-pulse did not start"
    while read -r module; do
        # shellcheck disable=SC2086 # the module's arguments are words
        pactl load-module $module >/dev/null || e2e_fail "pipewire-pulse could not load $module"
    done < <(e2e_layout_modules)
    e2e_set_defaults
    E2E_PIPEWIRE_START_MS=$((($(date +%s%N) - started) / 1000000))
}

# e2e_start_recording FILE [SINK]: records a sink's monitor (the default sink's unless given; u8
# mono 11025 raw) into FILE; E2E_LAST_PID is the recorder. Fragments of 50 ms: PipeWire loses
# blocks at 20 ms, and parec's own default fragment adds about a second.
e2e_start_recording() {
    e2e_spawn parec -d "${2:-$(e2e_default_sink)}.monitor" --format=u8 --rate=11025 --channels=1 \
        --raw --latency-msec=50 "$1"
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

# Client name of the players a test runs itself: their streams are not the program's.
E2E_OWN_PLAYER="e2e player"

# Number of playback streams other than the test's own players; e2e_streams OP N compares it (for
# e2e_wait_until).
e2e_playing_streams() {
    pactl list sink-inputs 2>/dev/null | awk -v own="application.name = \"$E2E_OWN_PLAYER\"" '
        /^Sink Input #/ { n++ }
        $0 == "\t\t" own { n-- }
        END { print n + 0 }'
}
e2e_streams() { test "$(e2e_playing_streams)" "$1" "$2"; }

# e2e_list_streams sink-input|source-output: one tab-separated line a stream: its index, its
# device's name, then the application's and the stream's names, as a mixer shows them.
e2e_list_streams() {
    local devices=sinks
    [ "$1" = source-output ] && devices=sources
    pactl list "$1s" 2>/dev/null |
        awk -v names="$(pactl list short "$devices" 2>/dev/null | cut -f1,2 | tr '\t\n' ' ;')" '
        BEGIN {
            count = split(names, pairs, ";")
            for (i = 1; i <= count; i++) { split(pairs[i], field, " "); name[field[1]] = field[2] }
        }
        function quoted(line) { sub(/^[^"]*"/, "", line); sub(/"$/, "", line); return line }
        function flush() { if (number != "") print number "\t" name[device] "\t" app "\t" media }
        /^(Sink Input|Source Output) #/ { flush(); number = substr($3, 2); app = media = device = "" }
        /^\t(Sink|Source): / { device = $2 }
        /^\t\tapplication\.name = / { app = quoted($0) }
        /^\t\tmedia\.name = / { media = quoted($0) }
        END { flush() }'
}

# e2e_stream sink-input|source-output APPLICATION MEDIA: prints "INDEX DEVICE" for that stream;
# false when there is none.
e2e_stream() {
    e2e_list_streams "$1" | awk -F '\t' -v app="$2" -v media="$3" '
        $3 == app && $4 == media { print $1, $2; found = 1; exit }
        END { exit !found }'
}

# Every stream on one line, for failure messages.
e2e_describe_streams() {
    local kind
    for kind in sink-input source-output; do
        e2e_list_streams "$kind" | awk -F '\t' -v kind="$kind" \
            '{ printf "%s #%s on %s: \"%s\" / \"%s\"; ", kind, $1, $2, $3, $4 }'
    done
}

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

# How many underruns of its output Wine's PulseAudio driver reported in a program's log (written
# when the program runs with WINEDEBUG=-all,warn+pulse).
e2e_wine_underruns() { grep -c 'pulse_underflow_callback.*Underflow' "$1"; }

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

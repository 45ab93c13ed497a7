# shellcheck shell=bash disable=SC2154 # the sourcing script sets log_tag, work and corvane
# Helpers of the scenario scripts that run the real program: logging, bounded waits, the
# processes a phase starts, a private Xvfb and `corvane --headless` driven through a pipe.

log() { echo "[$log_tag] $*" >&2; }
fail() {
    log "FAIL: $*"
    exit 1
}

skip_unless_root() {
    ((EUID == 0)) && return
    log "SKIP: needs root for its namespaces"
    exit 77
}

# run_isolated NAME LINES COMMAND...: COMMAND, which enters the namespaces, with a fresh folder
# in CORVANE_TEST_WORK that is removed afterwards. On failure the last LINES of each log left
# there are shown, since nothing outside the namespaces saw them. Exits with COMMAND's status.
run_isolated() {
    local name=$1 lines=$2 status=0 file
    shift 2
    work=$(mktemp -d "/tmp/corvane-$name.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    CORVANE_TEST_WORK=$work "$@" || status=$?
    if ((status != 0)); then
        for file in "$work"/*.log "$work"/*.out; do
            [[ -s $file ]] && { echo "---- $file"; tail -"$lines" "$file"; }
        done
    fi
    exit "$status"
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds. While watched_pid is
# set, the wait also fails as soon as that corvane has exited.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        [[ -z ${watched_pid:-} ]] || kill -0 "$watched_pid" 2>/dev/null ||
            fail "corvane exited while waiting for $what"
        sleep 0.1
    done
}

# ended SECONDS PID: whether PID is gone within SECONDS (it need not be our child).
ended() { timeout "$1" tail --pid="$2" -f /dev/null; }

# exits_cleanly PID CAUSE: our child PID ends within 10 s of CAUSE, with status 0.
exits_cleanly() {
    local status=0
    ended 10 "$1" || fail "corvane ignored $2"
    wait "$1" || status=$?
    ((status == 0)) || fail "corvane exited with $status after $2"
}

# What this phase started; stop_started ends it last first, so that clients go before servers.
pids=()
stop_started() {
    local index pid
    for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
        pid=${pids[index]}
        kill -TERM "$pid" 2>/dev/null || continue
        ended 5 "$pid" || kill -KILL "$pid" 2>/dev/null || true
    done
    pids=()
}

# start_xvfb SECONDS: Xvfb on a display number it picks itself; DISPLAY is exported once the
# server answers.
start_xvfb() {
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$work/xvfb.display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for "$1" "Xvfb's display number" test -s "$work/xvfb.display"
    DISPLAY=":$(head -n1 "$work/xvfb.display")"
    export DISPLAY
    wait_for "$1" "the X display" xdpyinfo
}

# run_in_x_namespace NAME LINES SECONDS ARGS...: runs the calling script again with ARGS in its
# own network and mount namespaces (as run_isolated NAME LINES does), so that port 55440 is free,
# nothing is advertised outside and the X server's socket is nobody else's. Exits 77 when no
# namespace can be made.
run_in_x_namespace() {
    local name=$1 lines=$2 seconds=$3 namespace=(unshare --net --mount --propagation private)
    shift 3
    if ! "${namespace[@]}" true 2>/dev/null; then
        namespace+=(--map-root-user)
    fi
    if ! "${namespace[@]}" true 2>/dev/null; then
        log "SKIP: cannot create network and mount namespaces"
        exit 77
    fi
    run_isolated "$name" "$lines" timeout -k 5 "$seconds" "${namespace[@]}" -- bash "$0" "$@"
}

# Inside run_in_x_namespace: the loopback up, a private X socket folder (other X servers on this
# machine share /tmp), Xvfb and a private home.
enter_x_namespace() {
    ip link set lo up
    mkdir -p /tmp/.X11-unix
    mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
    start_xvfb 10
    private_home
}

# Polled rather than --sync: a window that vanishes mid-search makes xdotool fail.
window_titled() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1
}
has_window() { [[ -n $(window_titled "$1") ]]; }

# Something listens on the receiver's port.
listening() { [[ -n $(ss -ltnH "sport = :${port:-55440}") ]]; }

# HOME and the XDG folders inside $work, so that no file of the machine's user is read or written.
private_home() {
    export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
    export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# No session bus, and a system bus nobody listens on: Bluetooth and DNS-SD stay unavailable
# instead of reaching the machine's daemons.
without_buses() {
    unset DBUS_SESSION_BUS_ADDRESS
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"
}

# start_corvane [SECRETS]: `corvane --headless` with the given pairing store (default the
# keyring), printing into $corvane_out and reading command_corvane's lines. Input goes through
# $corvane_input (default xtest; empty leaves CORVANE_INPUT unset).
start_corvane() {
    corvane_out="$work/corvane.out"
    rm -f "$work/commands"
    mkfifo "$work/commands"
    local input=${corvane_input-xtest}
    # Emptied here, not by the background child, so that no wait reads an earlier run's lines.
    : >"$corvane_out"
    : >"$work/corvane.log"
    # 3 to 6 may be a fake daemon's pipes, which must close when this shell closes them.
    env ${input:+CORVANE_INPUT=$input} CORVANE_SECRETS="${1:-secret-service}" \
        "$corvane" --headless <"$work/commands" >>"$corvane_out" 2>>"$work/corvane.log" \
        3<&- 4<&- 5<&- 6<&- &
    corvane_pid=$!
    pids+=("$corvane_pid")
    exec 7>"$work/commands"
}
command_corvane() { echo "$1" >&7; }

# printed LINE COUNT: corvane has printed LINE, exactly, at least COUNT times.
printed() { (($(grep -cxF -- "$1" "$corvane_out") >= $2)); }
wait_line_count() { wait_for 20 "\"$1\" (#$2)" printed "$1" "$2"; }

# shellcheck shell=bash disable=SC2154,SC2155,SC2034,SC2046
# The one harness of the scenario scripts. A script sets log_tag and scenarios, defines
# run_scenario NAME and calls harness_main "$@" (SCRIPT [--build DIR] SCENARIO|all [--long]).
# It runs again, once, in private network and mount namespaces, bounded in time, in a fresh $work
# with a private HOME and no buses; the scenario brings up what it needs with `up`, and all it
# started stops at the end. Exits 77 (skipped) when no namespace can be made.
set -euo pipefail

log() { echo "[$log_tag] $*" >&2; }
fail() { log "FAIL: $*" && exit 1; }

harness_main() {
    here=$(cd "$(dirname "$0")" && pwd)
    build=$(dirname "${BASH_SOURCE[0]}")/../../build/default long=false scenario=
    while (($#)); do
        case $1 in
        --build) build=$2 && shift ;;
        --long) long=true ;;
        -*) fail "usage: $0 [--build DIR] ${scenarios[*]}|all [--long]" ;;
        *) scenario=$1 ;;
        esac
        shift
    done
    build=$(cd "$build" && pwd)
    corvane=$build/src/app/corvane touch_tool=$build/tools/corvane-touch/corvane-touch
    local one failed=
    if [[ $scenario == all ]]; then
        for one in "${scenarios[@]}"; do
            bash "$0" --build "$build" "$one" $($long && echo --long) && echo "== $one: passed" ||
                { (($? == 77)) && echo "== $one: skipped"; } || { echo "== $one: FAILED" && failed+=" $one"; }
        done
        [[ -z $failed ]] || fail "failed:$failed"
        exit 0
    fi
    [[ " ${scenarios[*]} " == *" $scenario "* ]] || fail "unknown scenario '$scenario' (${scenarios[*]}, all)"
    log_tag+=":$scenario"
    [[ -n ${CORVANE_TEST_WORK:-} ]] || enter_namespaces --build "$build" "$scenario" $($long && echo --long)
    inside
    run_scenario "$scenario"
    log PASS
}

# On failure the tails of the logs are shown, since nothing outside the namespaces saw them.
enter_namespaces() {
    local namespace=(unshare --net --mount --propagation private) status=0 file
    ((EUID == 0)) || namespace+=(--map-root-user)
    "${namespace[@]}" true 2>/dev/null || { log "SKIP: cannot create namespaces" && exit 77; }
    [[ -x $corvane && -x $touch_tool ]] || fail "build corvane and corvane-touch in $build first"
    work=$(mktemp -d "/tmp/corvane-${log_tag//:/-}.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    CORVANE_TEST_WORK=$work timeout -k 10 "$($long && echo 900 || echo 300)" "${namespace[@]}" -- \
        bash "$0" "$@" || status=$?
    ((status == 0)) || for file in "$work"/*.log "$work"/*.out; do
        [[ ! -s $file ]] || { echo "---- $file" && tail -30 "$file"; }
    done
    exit "$status"
}

inside() {
    work=$CORVANE_TEST_WORK
    trap stop_started EXIT
    # The outer timeout's TERM must reach the EXIT trap, so that nothing outlives the run.
    trap 'exit 143' TERM
    ip link set lo up multicast on
    mkdir -p /tmp/.X11-unix /run/avahi-daemon
    mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
    mount -t tmpfs tmpfs /run/avahi-daemon
    export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
    export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset DBUS_SESSION_BUS_ADDRESS
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds, or watched_pid ends.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        [[ -z ${watched_pid:-} ]] || kill -0 "$watched_pid" 2>/dev/null || fail "corvane exited while waiting for $what"
        sleep 0.1
    done
}
ended() { timeout "$1" tail --pid="$2" -f /dev/null; }
# exits_cleanly PID CAUSE: our child PID ends within 10 s of CAUSE, with status 0.
exits_cleanly() {
    ended 10 "$1" || fail "corvane ignored $2"
    wait "$1" || fail "corvane exited with $? after $2"
}
down() { ! kill -TERM "$1" 2>/dev/null || ended 5 "$1" || kill -KILL "$1" 2>/dev/null || true; }
# started PID VARIABLE: PID is stopped at the end, clients (started last) before servers.
pids=()
started() { pids+=("$1") && [[ -z ${2:-} ]] || printf -v "$2" %s "$1"; }
stop_started() { for ((index = ${#pids[@]} - 1; index >= 0; index--)); do down "${pids[index]}"; done; }

# up PART...: x, system-bus, avahi, session-bus (after x: it starts the keyring's prompt), keyring,
# desktop (fake_desktop.py: tray, notifications, portal; its events in $work/desktop.out).
up() { for part; do "up_${part//-/_}"; done; }
up_x() {
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp -noreset 9>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 &
    started $! xvfb_pid
    wait_for 15 "Xvfb's display number" test -s "$work/xvfb.display"
    export DISPLAY=":$(head -n1 "$work/xvfb.display")"
    wait_for 15 "the X display" xdpyinfo
}
up_system_bus() {
    cat >"$work/system-bus.conf" <<CONF
<busconfig><type>system</type><listen>unix:path=$work/system-bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>
CONF
    start_bus system --config-file="$work/system-bus.conf"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system-bus"
}
up_session_bus() {
    start_bus session --session --address="unix:path=$work/session-bus"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/session-bus"
}
start_bus() {
    dbus-daemon "${@:2}" --nofork --nopidfile >"$work/$1-bus.log" 2>&1 &
    started $!
    wait_for 10 "the $1 bus" test -S "$work/$1-bus"
}
up_avahi() {
    printf '%s\n' '[server]' use-ipv4=yes use-ipv6=no allow-interfaces=lo enable-dbus=yes ratelimit-burst=1000 \
        '[publish]' publish-hinfo=no publish-workstation=no >"$work/avahi-daemon.conf"
    avahi-daemon -f "$work/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits >>"$work/avahi-daemon.log" 2>&1 &
    started $! avahi_pid
    wait_for 15 "avahi-daemon" avahi-browse -at
}
keyring_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetNameOwner string:org.freedesktop.secrets
}
up_keyring() {
    printf pw | gnome-keyring-daemon --foreground --unlock --components=secrets >>"$work/keyring.log" 2>&1 &
    started $! keyring_pid
    wait_for 15 "gnome-keyring" keyring_on_bus
}
up_desktop() {
    /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/fake_desktop.py" serve >"$work/desktop.out" 2>"$work/desktop.log" &
    started $! desktop_pid
    wait_for 10 "the fake desktop" grep -q ready "$work/desktop.out"
}
stored_tokens() { secret-tool lookup service dev.corvane.receiver.mac.pairings account clients; }

# start_corvane [SECRETS]: `corvane --headless` with that store (default the keyring), printing
# into $corvane_out, obeying command_corvane; input $corvane_input (default xtest, empty: auto).
# start_ready: the same, until it is ready for pairing.
start_corvane() {
    corvane_out=$work/corvane.out
    rm -f "$work/commands"
    mkfifo "$work/commands"
    : >"$corvane_out"
    local input=${corvane_input-xtest}
    # 3 to 6 may be a fake daemon's pipes, which must close when this shell closes them.
    env ${input:+CORVANE_INPUT=$input} CORVANE_SECRETS="${1:-secret-service}" "$corvane" --headless \
        <"$work/commands" >>"$corvane_out" 2>>"$work/corvane.log" 3<&- 4<&- 5<&- 6<&- &
    started $! corvane_pid
    exec 7>"$work/commands"
}
start_ready() { start_corvane "$@" && wait_line "status: Ready for pairing"; }
command_corvane() { echo "$1" >&7; }
quit_corvane() { command_corvane quit && exits_cleanly "$corvane_pid" quit; }
# printed LINE [COUNT]: corvane has printed LINE at least COUNT (1) times.
printed() { (($(grep -cxF -- "$1" "$corvane_out") >= ${2:-1})); }
wait_line() { wait_for 20 "\"$1\" (#${2:-1})" printed "$1" "${2:-1}"; }
last_value() { grep "^$1: " "$corvane_out" | tail -1 | cut -c$((${#1} + 3))-; }
current_code() { last_value code; }

# phone NAME [OPTION...]: corvane-touch sends a hello, then standard input; replies go to
# $work/NAME.out. pair NAME: with the code and a new client ID ($work/NAME.id); paired NAME: and
# nothing else, accepted. resume NAME NEW [KIND]: NAME comes back with its token as NEW (answered KIND).
phone() {
    "$touch_tool" 127.0.0.1 55440 --linger 1500 "${@:2}" >"$work/$1.out" 2>>"$work/phones.log"
}
new_client_id() { tr a-f A-F </proc/sys/kernel/random/uuid; }
pair() {
    new_client_id >"$work/$1.id"
    phone "$1" --code "$(current_code)" --client-id "$(cat "$work/$1.id")"
}
paired() { pair "$1" </dev/null && replied "$1" accepted; }
resume() {
    phone "$2" --client-id "$(cat "$work/$1.id")" --token "$(reply "$1" token)" <<<"move 1 1" || true
    [[ -z ${3:-} ]] || replied "$2" "$3"
}
# reply NAME FIELD: a field of the phone's first reply. replied NAME KIND [HOST_ID]: it was KIND.
reply() { head -1 "$work/$1.out" | sed -n "s/.*\"$2\":\"\([^\"]*\)\".*/\1/p"; }
replied() {
    [[ $(reply "$1" kind) == "$2" && (-z ${3:-} || $(reply "$1" hostID) == "$3") ]] ||
        fail "$1: expected '$2' ${3:+from $3}, got '$(head -1 "$work/$1.out")'"
}
# A phone that stays connected, taking its commands from descriptor 8 until close_phone.
open_phone() {
    mkfifo "$work/$1.in"
    "$touch_tool" 127.0.0.1 55440 "${@:2}" <"$work/$1.in" >"$work/$1.out" 2>>"$work/phones.log" &
    started $! phone_pid
    exec 8>"$work/$1.in"
}
close_phone() { exec 8>&- && ended 10 "$phone_pid" || fail "the phone did not finish"; }

pointer_at() { [[ $(xdotool getmouselocation) == "x:$1 y:$2 "* ]]; }
wait_pointer() { wait_for 5 "the pointer at $1,$2" pointer_at "$1" "$2"; }
# Polled rather than --sync: a window that vanishes mid-search makes xdotool fail.
window_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
has_window() { [[ -n $(window_titled "$1") ]]; }
listening() { [[ -n $(ss -ltnH "sport = :55440") ]]; }

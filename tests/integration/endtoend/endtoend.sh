#!/usr/bin/env bash
# End-to-end run of `corvane --headless` against real daemons, with corvane-touch as the phone
# and only outside witnesses as evidence: avahi-browse, xdotool, xinput, secret-tool.
#
#   endtoend.sh BUILD_DIR SCENARIO    SCENARIO: pairing, busy-port, name-collision, late-daemon,
#                                               bluetooth-pairing, no-bluez (see bluetooth.sh)
#
# Runs as root. It re-executes itself inside its own network and mount namespaces (so port 55440,
# mDNS and avahi's pid file stay private), starts a private system bus, avahi-daemon and Xvfb
# there, and runs the scenario inside a dbus-run-session with its own gnome-keyring. Everything it
# starts, it stops; every wait is bounded.
set -euo pipefail

build=$(cd "$1" && pwd)
scenario=$2
phase=${3:-outer}
here=$(cd "$(dirname "$0")" && pwd)
corvane="$build/src/app/corvane"
touch_tool="$build/tools/corvane-touch/corvane-touch"
port=55440

log() { echo "[endtoend:$scenario] $*" >&2; }
fail() {
    log "FAIL: $*"
    exit 1
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        sleep 0.1
    done
}

pids=()
stop_started() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    pids=()
}

# ---------------------------------------------------------------- outer: enter the namespaces
if [[ $phase == outer ]]; then
    [[ -x $corvane && -x $touch_tool ]] || fail "build corvane and corvane-touch first"
    if [[ $(id -u) -ne 0 ]]; then
        log "SKIP: needs root for its network and mount namespaces"
        exit 77
    fi
    work=$(mktemp -d /tmp/corvane-endtoend.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    export CORVANE_E2E_WORK=$work
    status=0
    timeout -k 10 300 unshare --net --mount --propagation private -- \
        bash "$0" "$build" "$scenario" namespace || status=$?
    if ((status != 0)); then
        for file in "$work"/*.log "$work"/*.out; do
            [[ -s $file ]] && { echo "---- $file"; tail -40 "$file"; }
        done
    fi
    exit "$status"
fi

work=$CORVANE_E2E_WORK

# ---------------------------------------------------------------- namespace: the machine's daemons
if [[ $phase == namespace ]]; then
    trap stop_started EXIT
    ip link set lo up
    ip link set lo multicast on

    # avahi-daemon insists on its pid file under /run; this mount namespace gets its own.
    mkdir -p /run/avahi-daemon
    mount -t tmpfs tmpfs /run/avahi-daemon

    cat >"$work/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/system-bus.conf" --nofork --nopidfile \
        >"$work/system-bus.log" 2>&1 &
    pids+=($!)
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system-bus"
    wait_for 10 "the system bus" test -S "$work/system-bus"

    cat >"$work/avahi-daemon.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[publish]
publish-hinfo=no
publish-workstation=no
CONF
    start_avahi() {
        avahi-daemon -f "$work/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \
            >>"$work/avahi-daemon.log" 2>&1 &
        avahi_pid=$!
        pids+=("$avahi_pid")
        wait_for 15 "avahi-daemon" avahi-browse -at
    }
    stop_avahi() {
        kill -TERM "$avahi_pid"
        timeout 10 tail --pid="$avahi_pid" -f /dev/null || kill -KILL "$avahi_pid"
    }
    export -f start_avahi stop_avahi
    start_avahi

    exec 9>"$work/xvfb.display"
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 15 "Xvfb" test -s "$work/xvfb.display"
    export DISPLAY=":$(cat "$work/xvfb.display")"
    wait_for 15 "the X display" xdpyinfo

    export avahi_pid
    dbus-run-session -- bash "$0" "$build" "$scenario" session
    exit $?
fi

# ---------------------------------------------------------------- session: keyring, corvane, phone
trap stop_started EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

printf pw | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$work/keyring.log" 2>&1 &
pids+=($!)
wait_for 15 "gnome-keyring" dbus-send --session --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner string:org.freedesktop.secrets

corvane_out="$work/corvane.out"
# start_corvane [SECRETS]: corvane --headless with the given pairing store (default the keyring).
start_corvane() {
    rm -f "$work/commands"
    mkfifo "$work/commands"
    CORVANE_INPUT=xtest CORVANE_SECRETS=${1:-secret-service} \
        "$corvane" --headless <"$work/commands" >"$corvane_out" 2>"$work/corvane.log" 5<&- 6<&- &
    corvane_pid=$!
    pids+=("$corvane_pid")
    exec 7>"$work/commands"
}
command_corvane() { echo "$1" >&7; }
# Lines printed so far that equal $1 exactly.
count_lines() { grep -cxF -- "$1" "$corvane_out" || true; }
wait_line_count() {
    local line=$1 count=$2
    wait_for 20 "\"$line\" (#$count)" bash -c "(( \$(grep -cxF -- '$line' '$corvane_out') >= $count ))"
}
current_code() { grep '^code: ' "$corvane_out" | tail -1 | cut -c7-; }

# browse_field [--name NAME] --port|--txt-id: a field of our service as avahi-browse resolves it.
browse_field() {
    avahi-browse -rpt _corvane._tcp 2>/dev/null | python3 "$here/browse_field.py" "$@"
}

phone() { "$touch_tool" 127.0.0.1 "$port" --linger 1500 "$@"; }

scenario_pairing() {
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    local code
    code=$(current_code)
    [[ $code =~ ^[0-9]{6}$ ]] || fail "no six-digit code: '$code'"

    log "advertisement"
    wait_for 20 "the DNS-SD service" browse_field --port
    [[ $(browse_field --port) == "$port" ]] || fail "advertised port $(browse_field --port)"
    local txt_id
    txt_id=$(browse_field --txt-id)

    log "pairing and input"
    xinput test-xi2 --root >"$work/xinput.out" 2>&1 &
    pids+=($!)
    sleep 0.5
    xdotool mousemove 100 100
    local client_id
    client_id=$(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')
    printf '%s\n' "move 30 20" "move 5 5" click rightClick middleClick "scroll 0 -100" \
        "modifiers 1" click "modifiers 0" "key undo" "navigate 1" |
        phone --code "$code" --client-id "$client_id" >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --token <"$work/phone1.out" ||
        fail "first pairing not accepted"
    local token
    token=$(head -1 "$work/phone1.out" | python3 -c 'import json,sys; print(json.load(sys.stdin)["token"])')

    local location
    location=$(xdotool getmouselocation)
    [[ $location == "x:135 y:125 "* ]] || fail "pointer at '$location', expected x:135 y:125"
    sleep 0.5
    python3 "$here/check_xinput.py" <"$work/xinput.out" || fail "injected events missing"

    log "stored token"
    local stored
    stored=$(secret-tool lookup service dev.corvane.receiver.mac.pairings account clients)
    python3 -c 'import json,sys; assert json.loads(sys.argv[1])[sys.argv[2]] == sys.argv[3]' \
        "$stored" "$client_id" "$token" || fail "keyring holds '$stored'"

    log "reconnection with the token"
    wait_line_count "status: Ready for pairing" 2
    printf 'move 1 1\n' | phone --client-id "$client_id" --token "$token" >"$work/phone2.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --no-token \
        <"$work/phone2.out" || fail "token reconnection not accepted"

    log "forget"
    wait_line_count "status: Ready for pairing" 3
    command_corvane forget
    wait_line_count "status: Ready for pairing" 4
    printf 'move 1 1\n' | phone --client-id "$client_id" --token "$token" >"$work/phone3.out"
    python3 "$here/check_reply.py" rejected <"$work/phone3.out" || fail "forgotten token accepted"
    stored=$(secret-tool lookup service dev.corvane.receiver.mac.pairings account clients || true)
    [[ -z $stored || $stored == "{}" ]] || fail "keyring still holds '$stored'"

    log "SIGTERM"
    kill -TERM "$corvane_pid"
    local status=0
    timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored SIGTERM"
    wait "$corvane_pid" || status=$?
    ((status == 0)) || fail "corvane exited with $status after SIGTERM"
    [[ $(grep '^status: ' "$corvane_out" | tail -1) == "status: Stopped" ]] ||
        fail "last status is not Stopped"
}

scenario_busy_port() {
    python3 -c 'import socket,time; s=socket.socket(socket.AF_INET6); s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0); s.bind(("::", '"$port"')); s.listen(); time.sleep(60)' &
    pids+=($!)
    wait_for 10 "the squatter" bash -c "ss -ltn | grep -q ':$port '"
    start_corvane
    wait_line_count "status: Could not listen: Address already in use" 1
    grep -qx "running: true" "$corvane_out" && fail "running although the port is taken"
    command_corvane quit
    timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored quit"
}

scenario_name_collision() {
    local name
    name=$(python3 -c 'import socket; print(socket.gethostname())')
    avahi-publish -s "$name" _corvane._tcp 1234 >"$work/squatter.log" 2>&1 &
    pids+=($!)
    wait_for 20 "the squatting service" bash -c "avahi-browse -pt _corvane._tcp | grep -qF ';$name;'"
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    wait_for 20 "the renamed service" browse_field --name "$name #2" --port
    [[ $(browse_field --name "$name #2" --port) == "$port" ]] || fail "renamed service not ours"

    log "daemon restart"
    stop_avahi
    start_avahi
    wait_for 30 "the service after the restart" browse_field --name-on-port "$port"
    command_corvane quit
    timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored quit"
}

scenario_late_daemon() {
    stop_avahi
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    sleep 1
    start_avahi
    wait_for 30 "the service once the daemon is up" browse_field --name-on-port "$port"
    local txt_id
    txt_id=$(browse_field --txt-id)
    printf '' | phone --code "$(current_code)" >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --no-token <"$work/phone1.out" ||
        fail "code-only hello not accepted with the advertised host ID"
    command_corvane quit
    timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored quit"
}

source "$here/bluetooth.sh"

case $scenario in
pairing) scenario_pairing ;;
busy-port) scenario_busy_port ;;
name-collision) scenario_name_collision ;;
late-daemon) scenario_late_daemon ;;
bluetooth-pairing) scenario_bluetooth_pairing ;;
no-bluez) scenario_no_bluez ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS"

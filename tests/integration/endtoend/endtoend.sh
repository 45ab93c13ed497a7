#!/usr/bin/env bash
# End-to-end run of `corvane --headless` against real daemons, with corvane-touch as the phone
# and only outside witnesses as evidence: avahi-browse, xdotool, xinput, secret-tool.
#
#   endtoend.sh BUILD_DIR SCENARIO    SCENARIO: pairing, busy-port, name-collision, late-daemon,
#                                               bluetooth-pairing, no-bluez (see bluetooth.sh),
#                                               portal (see portal.sh)
#
# Runs as root. It re-executes itself inside its own network and mount namespaces (so port 55440,
# mDNS and avahi's pid file stay private), starts a private system bus, avahi-daemon and Xvfb
# there, and runs the scenario inside a dbus-run-session with its own gnome-keyring. Everything it
# starts, it stops; every wait is bounded.
set -euo pipefail

build=$(cd "$1" && pwd)
scenario=$2
phase=${3:-outer}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
corvane="$build/src/app/corvane"
touch_tool="$build/tools/corvane-touch/corvane-touch"
port=55440
log_tag="endtoend:$scenario"

# shellcheck source=tests/support/harness.sh
source "$here/../../support/harness.sh"

# ---------------------------------------------------------------- outer: enter the namespaces
if [[ $phase == outer ]]; then
    [[ -x $corvane && -x $touch_tool ]] || fail "build corvane and corvane-touch first"
    skip_unless_root
    run_isolated endtoend 40 timeout -k 10 300 unshare --net --mount --propagation private -- \
        bash "$0" "$build" "$scenario" namespace
fi

work=$CORVANE_TEST_WORK

# The daemon is started in the namespace phase; scenarios restart it (avahi_pid is exported).
start_avahi() {
    avahi-daemon -f "$work/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \
        >>"$work/avahi-daemon.log" 2>&1 &
    avahi_pid=$!
    pids+=("$avahi_pid")
    wait_for 15 "avahi-daemon" avahi-browse -at
}
stop_avahi() {
    kill -TERM "$avahi_pid"
    ended 10 "$avahi_pid" || kill -KILL "$avahi_pid"
}

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
    start_avahi

    start_xvfb 15

    export avahi_pid
    dbus-run-session -- bash "$0" "$build" "$scenario" session
    exit $?
fi

# ---------------------------------------------------------------- session: keyring, corvane, phone
trap stop_started EXIT
private_home

keyring_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetNameOwner string:org.freedesktop.secrets
}
start_keyring() {
    printf pw | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >>"$work/keyring.log" 2>&1 &
    pids+=($!)
    wait_for 15 "gnome-keyring" keyring_on_bus
}
start_keyring

# The last value printed for a published field (status, code, running...).
last_value() { grep "^$1: " "$corvane_out" | tail -1 | cut -c$((${#1} + 3))-; }
current_code() { last_value code; }
new_client_id() { python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'; }
reply_token() { head -1 "$1" | python3 -c 'import json,sys; print(json.load(sys.stdin)["token"])'; }

quit_corvane() {
    command_corvane quit
    exits_cleanly "$corvane_pid" quit
}

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
    client_id=$(new_client_id)
    printf '%s\n' "move 30 20" "move 5 5" click rightClick middleClick "scroll 0 -100" \
        "modifiers 1" click "modifiers 0" "key undo" "navigate 1" "modifiers 4" \
        "move 1 0" "move 1 0" "move 1 0" "move 1 0" "move 1 0" \
        "move 1 0" "move 1 0" "move 1 0" "move 1 0" "move 1 0" click |
        phone --code "$code" --client-id "$client_id" >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --token <"$work/phone1.out" ||
        fail "first pairing not accepted"
    local token
    token=$(reply_token "$work/phone1.out")

    local location
    location=$(xdotool getmouselocation)
    [[ $location == "x:145 y:125 "* ]] || fail "pointer at '$location', expected x:145 y:125"
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
    exits_cleanly "$corvane_pid" SIGTERM
    [[ $(last_value status) == Stopped ]] || fail "last status is not Stopped"
}

scenario_busy_port() {
    python3 -c 'import socket,time; s=socket.socket(socket.AF_INET6); s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0); s.bind(("::", '"$port"')); s.listen(); time.sleep(60)' &
    pids+=($!)
    wait_for 10 "the squatter" bash -c "ss -ltn | grep -q ':$port '"
    start_corvane
    wait_line_count "status: Could not listen: Address already in use" 1
    grep -qx "running: true" "$corvane_out" && fail "running although the port is taken"
    quit_corvane
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
    quit_corvane
}

scenario_late_daemon() {
    stop_avahi
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    # Said, not silent; TCP serves phones that know the address meanwhile.
    wait_line_count "publishing: Phones cannot find this computer: avahi-daemon is not running" 1
    printf '' | phone --code "$(current_code)" >"$work/phone0.out"
    python3 "$here/check_reply.py" accepted --no-token <"$work/phone0.out" ||
        fail "TCP did not serve while the service was not published"
    start_avahi
    wait_for 30 "the service once the daemon is up" browse_field --name-on-port "$port"
    wait_line_count "publishing: " 2
    local txt_id
    txt_id=$(browse_field --txt-id)
    printf '' | phone --code "$(current_code)" >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --no-token <"$work/phone1.out" ||
        fail "code-only hello not accepted with the advertised host ID"
    quit_corvane
}

# shellcheck source=tests/integration/endtoend/bluetooth.sh
source "$here/bluetooth.sh"
# shellcheck source=tests/integration/endtoend/portal.sh
source "$here/portal.sh"

# Sourced (by the fault scenarios): the helpers only.
[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0
case $scenario in
pairing) scenario_pairing ;;
busy-port) scenario_busy_port ;;
name-collision) scenario_name_collision ;;
late-daemon) scenario_late_daemon ;;
bluetooth-pairing) scenario_bluetooth_pairing ;;
no-bluez) scenario_no_bluez ;;
portal) scenario_portal ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS"

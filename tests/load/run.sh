#!/usr/bin/env bash
# Load scenarios against the real program: `corvane --headless` in its own network namespace,
# injecting through XTEST into a private Xvfb, with its pairings in a file under temporary XDG
# folders. load_driver.py plays the phones and judges from outside.
#
#   run.sh [--build DIR] SCENARIO [--long]     SCENARIO: refuse, flood, overlong, silent, vanish
#   run.sh [--build DIR] all [--long]
#
# Without --long each scenario runs a bounded variant (the one CI runs); --long runs the full
# figures. DIR defaults to $CORVANE_BUILD_DIR, else build/default. Runs as root (namespaces);
# exits 77 when it cannot. Everything it starts, it stops; every wait is bounded.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${CORVANE_BUILD_DIR:-$here/../../build/default}
long=false
phase=outer
scenario=
while (($#)); do
    case $1 in
    --build) build=$2 && shift ;;
    --long) long=true ;;
    --phase) phase=$2 && shift ;;
    -*) echo "usage: run.sh [--build DIR] SCENARIO|all [--long]" >&2 && exit 2 ;;
    *) scenario=$1 ;;
    esac
    shift
done
build=$(cd "$build" && pwd)
scenarios=(refuse flood overlong silent vanish)

log() { echo "[load:$scenario] $*" >&2; }
fail() {
    log "FAIL: $*"
    exit 1
}

# Bounded and full figures per scenario: driver options and the time the whole run may take.
driver_options() {
    case $scenario:$long in
    refuse:false) echo --attempts 10000 ;;
    refuse:true) echo --attempts 100000 ;;
    flood:false) echo --messages 200000 ;;
    flood:true) echo --messages 1000000 ;;
    overlong:false) echo --rounds 8 ;;
    overlong:true) echo --rounds 200 ;;
    silent:false) echo --hold 32 ;;
    silent:true) echo --hold 180 ;;
    vanish:false) echo --rounds 1 ;;
    vanish:true) echo --rounds 3 ;;
    esac
}
time_limit() {
    if $long; then echo 900; else echo 100; fi
}

# ---------------------------------------------------------------- all: one run per scenario
if [[ $scenario == all ]]; then
    failed=()
    for one in "${scenarios[@]}"; do
        args=(--build "$build" "$one")
        $long && args+=(--long)
        status=0
        bash "$0" "${args[@]}" || status=$?
        ((status == 0 || status == 77)) || failed+=("$one")
    done
    ((${#failed[@]} == 0)) || { echo "load: failed: ${failed[*]}" >&2 && exit 1; }
    exit 0
fi
[[ " ${scenarios[*]} " == *" $scenario "* ]] || fail "unknown scenario (${scenarios[*]}, all)"

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "no $what within the time allowed"
        sleep 0.1
    done
}

started=()
stop_started() {
    local pid index
    for ((index = ${#started[@]} - 1; index >= 0; index--)); do
        pid=${started[index]}
        kill -TERM "$pid" 2>/dev/null || continue
        timeout 5 tail --pid="$pid" -f /dev/null || kill -KILL "$pid" 2>/dev/null || true
    done
    started=()
}

# ---------------------------------------------------------------- outer: a namespace of its own
if [[ $phase == outer ]]; then
    corvane="$build/src/app/corvane"
    [[ -x $corvane ]] || fail "build the corvane target in $build first"
    if [[ $(id -u) -ne 0 ]]; then
        log "SKIP: needs root for its network namespaces"
        exit 77
    fi
    work=$(mktemp -d /tmp/corvane-load.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    args=(--build "$build" --phase inner "$scenario")
    $long && args+=(--long)
    status=0
    CORVANE_LOAD_WORK=$work timeout -k 10 "$(time_limit)" unshare --net -- bash "$0" "${args[@]}" ||
        status=$?
    if ((status != 0)); then
        for file in "$work"/*.log "$work"/*.out; do
            [[ -s $file ]] && { echo "---- $file" && tail -20 "$file"; }
        done
    fi
    exit "$status"
fi

# ---------------------------------------------------------------- inner: display, receiver, phones
work=$CORVANE_LOAD_WORK
trap stop_started EXIT
# The outer timeout's TERM must reach the EXIT trap, so that nothing outlives the run.
trap 'exit 143' TERM
ip link set lo up

exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
started+=($!)
wait_for 15 "X display number" test -s "$work/display"
DISPLAY=":$(cat "$work/display")"
export DISPLAY
wait_for 15 "X display" xdpyinfo

# Only this run's own state: no desktop session, no system bus (so no Bluetooth and no DNS-SD,
# which the TCP side does not need), pairings in a file that disappears with the run.
unset DBUS_SESSION_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

output="$work/corvane.out"
mkfifo "$work/commands"
CORVANE_INPUT=xtest CORVANE_SECRETS=file \
    "$build/src/app/corvane" --headless <"$work/commands" >"$output" 2>"$work/corvane.log" &
corvane_pid=$!
started+=("$corvane_pid")
exec 7>"$work/commands"
wait_for 20 "\"status: Ready for pairing\"" grep -qxF "status: Ready for pairing" "$output"

driver=(python3 "$here/load_driver.py" "$scenario" --pid "$corvane_pid" --output "$output")
read -ra options <<<"$(driver_options)"
if [[ $scenario == vanish ]]; then
    # The phone lives in a second namespace behind a veth pair, so that its packets can be
    # dropped at its end while the receiver's link stays up, as when a phone leaves Wi-Fi.
    unshare --net sleep infinity &
    phone_ns=$!
    started+=("$phone_ns")
    own_namespace() { [[ $(readlink "/proc/$phone_ns/ns/net") != $(readlink /proc/self/ns/net) ]]; }
    wait_for 5 "phone namespace" own_namespace
    ip link add load-receiver type veth peer name load-phone netns "$phone_ns"
    ip addr add 10.77.0.1/24 dev load-receiver
    ip link set load-receiver up
    nsenter --net="/proc/$phone_ns/ns/net" sh -c \
        'ip link set lo up && ip addr add 10.77.0.2/24 dev load-phone && ip link set load-phone up'
    driver=(nsenter --net="/proc/$phone_ns/ns/net" "${driver[@]}" --host 10.77.0.1)
fi

log "$(driver_options)"
"${driver[@]}" "${options[@]}" >"$work/driver.out" &
driver_pid=$!
started+=("$driver_pid")
if ! wait "$driver_pid"; then
    verdict=$(tail -1 "$work/driver.out")
    fail "${verdict#FAIL: }"
fi

echo quit >&7
timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored quit"
wait "$corvane_pid" || fail "corvane exited with $?"
echo "load $scenario$($long && echo ' (long)'): $(tail -1 "$work/driver.out")"

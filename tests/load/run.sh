#!/usr/bin/env bash
# Load scenarios against the real program: `corvane --headless` in its own network namespace,
# injecting through XTEST into a private Xvfb, with its pairings in a file under temporary XDG
# folders. load_driver.py plays the phones and judges from outside.
#
#   run.sh [--build DIR] SCENARIO [--long]     SCENARIO: refuse, flood, overlong, silent, vanish,
#                                              guess
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
corvane="$build/src/app/corvane"
scenarios=(refuse flood overlong silent vanish guess)
log_tag="load:$scenario"
# shellcheck source=tests/support/harness.sh
source "$here/../support/harness.sh"

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
    guess:false) echo --seconds 10 ;;
    guess:true) echo --seconds 60 ;;
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

# ---------------------------------------------------------------- outer: a namespace of its own
if [[ $phase == outer ]]; then
    [[ -x $corvane ]] || fail "build the corvane target in $build first"
    skip_unless_root
    args=(--build "$build" --phase inner "$scenario")
    $long && args+=(--long)
    run_isolated load 20 timeout -k 10 "$(time_limit)" unshare --net -- bash "$0" "${args[@]}"
fi

# ---------------------------------------------------------------- inner: display, receiver, phones
work=$CORVANE_TEST_WORK
trap stop_started EXIT
# The outer timeout's TERM must reach the EXIT trap, so that nothing outlives the run.
trap 'exit 143' TERM
ip link set lo up

start_xvfb 15
# Only this run's own state: no desktop session, no system bus (so no Bluetooth and no DNS-SD,
# which the TCP side does not need), pairings in a file that disappears with the run.
without_buses
private_home

# Security log lines carry the monotonic clock, which the driver reads too.
export QT_MESSAGE_PATTERN='%{time boot} %{category}: %{message}'
start_corvane file
wait_line_count "status: Ready for pairing" 1

driver=(python3 "$here/load_driver.py" "$scenario" --pid "$corvane_pid" --output "$corvane_out"
    --log "$work/corvane.log")
read -ra options <<<"$(driver_options)"
if [[ $scenario == vanish ]]; then
    # The phone lives in a second namespace behind a veth pair, so that its packets can be
    # dropped at its end while the receiver's link stays up, as when a phone leaves Wi-Fi.
    unshare --net sleep infinity &
    phone_ns=$!
    pids+=("$phone_ns")
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
pids+=("$driver_pid")
if ! wait "$driver_pid"; then
    verdict=$(tail -1 "$work/driver.out")
    fail "${verdict#FAIL: }"
fi

command_corvane quit
exits_cleanly "$corvane_pid" quit
echo "load $scenario$($long && echo ' (long)'): $(tail -1 "$work/driver.out")"

#!/usr/bin/env bash
# Load scenarios: `corvane --headless` injecting through XTEST into Xvfb, pairings in a file;
# load_driver.py plays the phones and judges from outside.
#   tests/load/run.sh [--build DIR] SCENARIO|all [--long]
#   refuse flood overlong silent vanish guess   bounded variants (CI); --long for the figures
#   memory   resident size of the headless runner (idle, with a phone, after it) with XTEST, the
#            keyring and avahi-daemon, and of the window with each Qt Quick renderer
log_tag=load
scenarios=(refuse flood overlong silent vanish guess memory)
# shellcheck source=tests/support/harness.sh
source "$(dirname "$0")/../support/harness.sh"

# The vanishing phone lives in a namespace of its own behind a veth pair, so that its packets can
# be dropped at its end while the receiver's link stays up, as when a phone leaves Wi-Fi.
phone_namespace() {
    unshare --net sleep infinity &
    started $! phone_ns
    # The link is unreadable while unshare execs; an empty answer is not a new namespace.
    wait_for 5 "the phone's namespace" eval 'phone_net=$(readlink /proc/$phone_ns/ns/net) &&
        [[ $phone_net != $(readlink /proc/self/ns/net) ]]'
    ip link add load-receiver type veth peer name load-phone netns "$phone_ns"
    ip addr add 10.77.0.1/24 dev load-receiver
    ip link set load-receiver up
    nsenter --net="/proc/$phone_ns/ns/net" sh -c \
        'ip link set lo up && ip addr add 10.77.0.2/24 dev load-phone && ip link set load-phone up'
}

# memory WHAT PID: its resident figures after 3 s of rest, in kB.
memory() {
    sleep 3
    echo "$1: $(awk '/^(VmRSS|RssAnon):/ {printf "%s %s kB, ", $1, $2}' "/proc/$2/status")$(
        awk '/^Pss:/ {print "Pss: " $2 " kB"}' "/proc/$2/smaps_rollup")"
}
scenario_memory() {
    up x system-bus avahi session-bus keyring
    start_ready
    memory "headless, idle" "$corvane_pid"
    open_phone phone --code "$(current_code)" --client-id "$(new_client_id)"
    wait_line "status: Touch device connected"
    for _ in $(seq 1000); do printf 'move 1 0\nmove -1 0\n'; done >&8
    echo "scroll 0 -30" >&8
    memory "headless, one phone after 2000 moves" "$corvane_pid"
    close_phone
    wait_line "status: Ready for pairing" 2
    memory "headless, after the phone left" "$corvane_pid"
    quit_corvane
    # The window at rest (it does not start the receiver), with each renderer.
    for renderer in "" software; do
        QT_QUICK_BACKEND=$renderer QT_QPA_PLATFORM=xcb "$corvane" >"$work/window.log" 2>&1 &
        started $! window_pid
        sleep 3
        memory "window, ${renderer:-OpenGL} renderer" "$window_pid"
        down "$window_pid"
    done
}

run_scenario() {
    [[ $1 != memory ]] || { scenario_memory && return; }
    up x
    # Security log lines carry the monotonic clock, which the driver reads too.
    QT_MESSAGE_PATTERN='%{time boot} %{category}: %{message}' start_ready file
    local driver=(python3 "$here/load_driver.py" "$1" "$corvane_pid" "$corvane_out" "$work/corvane.log")
    ! $long || driver+=(--long)
    if [[ $1 == vanish ]]; then
        phone_namespace
        driver=(nsenter --net="/proc/$phone_ns/ns/net" "${driver[@]}" --host 10.77.0.1)
    fi
    "${driver[@]}" >"$work/driver.out" || fail "$(tail -1 "$work/driver.out")"
    quit_corvane
    echo "load $1$($long && echo ' (long)'): $(tail -1 "$work/driver.out")"
}

harness_main "$@"

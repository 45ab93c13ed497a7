# shellcheck shell=bash disable=SC2154
# Sourced by the scenario scripts here: the machine of the endtoend harness - private network and
# mount namespaces, a system bus, avahi-daemon, Xvfb, and a dbus-run-session with its own
# gnome-keyring. Its outer and namespace phases re-run the sourcing script ($0) one level further
# in and exit; only the session phase returns here, with its helpers defined (start_corvane,
# quit_corvane, phone, wait_line_count, current_code, last_value, fail, log...) plus the few below.

# shellcheck source=tests/integration/endtoend/endtoend.sh
source "$(dirname "${BASH_SOURCE[0]}")/../integration/endtoend/endtoend.sh"

alive() { kill -0 "$corvane_pid" 2>/dev/null || fail "corvane died: $(tail -5 "$work/corvane.log")"; }

# A phone that stays connected, taking its commands from descriptor 8 (closed by close_phone).
open_phone() {
    local name=$1
    shift
    rm -f "$work/$name.in"
    mkfifo "$work/$name.in"
    phone "$@" <"$work/$name.in" >"$work/$name.out" 2>"$work/$name.log" &
    phone_pid=$!
    pids+=("$phone_pid")
    exec 8>"$work/$name.in"
}
close_phone() {
    exec 8>&-
    ended 10 "$phone_pid" || fail "the phone did not finish"
}

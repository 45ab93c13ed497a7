# shellcheck shell=bash disable=SC2154
# Sourced by the scenario scripts here. It runs the endtoend harness without its scenario
# dispatch (tests/integration/endtoend/endtoend.sh): private network and mount namespaces, a system bus, avahi-daemon, Xvfb, and a
# dbus-run-session with its own gnome-keyring. The outer and namespace phases re-run the
# sourcing script ($0) one level further in and exit; only the session phase returns here, with
# the harness's helpers defined (start_corvane, command_corvane, phone, wait_line_count,
# current_code, fail, log...) plus the few below.

faults_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
endtoend_dir=$(cd "$faults_dir/../integration/endtoend" && pwd)

# Its $here, where its helpers live, would otherwise be this folder.
harness=$(sed -e '/^case \$scenario in/,$d' -e "s|^here=.*|here='$endtoend_dir'|" \
    "$endtoend_dir/endtoend.sh")
# shellcheck disable=SC2016 # literal patterns
if ! grep -q '^case \$scenario in' "$endtoend_dir/endtoend.sh" ||
    ! grep -q '^here=' "$endtoend_dir/endtoend.sh"; then
    echo "[faults] endtoend.sh no longer has the 'here=' and 'case \$scenario in' lines" >&2
    exit 1
fi
# shellcheck disable=SC1090
source <(printf '%s\n' "$harness")

new_client_id() { python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'; }
reply_token() { head -1 "$1" | python3 -c 'import json,sys; print(json.load(sys.stdin)["token"])'; }
# The last value printed for a published field (status, code, running...).
last_value() { grep "^$1: " "$corvane_out" | tail -1 | cut -c$((${#1} + 3))-; }
alive() { kill -0 "$corvane_pid" 2>/dev/null || fail "corvane died: $(tail -5 "$work/corvane.log")"; }

quit_corvane() {
    command_corvane quit
    timeout 10 tail --pid="$corvane_pid" -f /dev/null || fail "corvane ignored quit"
    local status=0
    wait "$corvane_pid" || status=$?
    ((status == 0)) || fail "corvane exited with $status"
}

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
    timeout 10 tail --pid="$phone_pid" -f /dev/null || fail "the phone did not finish"
}

#!/usr/bin/env bash
# shellcheck disable=SC2154 # the harness defines work, here, corvane, corvane_out, scenario
# Fault scenarios that take a daemon or the X display away from a running `corvane --headless`.
# The machine is the endtoend harness's (harness.sh).
#
#   daemons.sh BUILD_DIR SCENARIO    SCENARIO: secret-service-gone, x-display-gone
set -euo pipefail

# shellcheck source=tests/faults/harness.sh
source "$(dirname "$0")/harness.sh"

scenario_secret_service_gone() {
    start_corvane
    wait_line_count "status: Ready for pairing" 1

    log "pairing while the keyring runs"
    local first_id token
    first_id=$(new_client_id)
    phone --code "$(current_code)" --client-id "$first_id" </dev/null >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --token <"$work/phone1.out" || fail "first pairing refused"
    token=$(reply_token "$work/phone1.out")

    log "the keyring daemon is killed"
    local keyring_pid
    keyring_pid=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        string:org.freedesktop.secrets | awk '{print $2}')
    [[ $keyring_pid =~ ^[0-9]+$ ]] || fail "no keyring process found"
    kill -KILL "$keyring_pid"
    keyring_gone() { ! keyring_on_bus; }
    wait_for 10 "the keyring to leave the bus" keyring_gone

    log "a new pairing cannot be saved"
    wait_line_count "status: Ready for pairing" 2
    phone --code "$(current_code)" --client-id "$(new_client_id)" </dev/null >"$work/phone2.out"
    python3 "$here/check_reply.py" rejected <"$work/phone2.out" || fail "unsaved pairing accepted"
    local prefix="status: Could not save pairing: " reason
    reason=$(grep -m1 -F "$prefix" "$corvane_out") || fail "no \"Could not save pairing\" status"
    reason=${reason#"$prefix"}
    log "reason: $reason"
    # Readable: words, not a bare status number.
    [[ $reason =~ [[:alpha:]]{4} && ! $reason =~ ^Keychain\ error ]] || fail "unreadable reason '$reason'"
    alive

    log "the phone paired before still reconnects with its token"
    wait_line_count "status: Ready for pairing" 3
    printf 'move 1 1\n' | phone --client-id "$first_id" --token "$token" >"$work/phone3.out"
    python3 "$here/check_reply.py" accepted --no-token <"$work/phone3.out" ||
        fail "earlier pairing no longer accepted"
    wait_line_count "status: Ready for pairing" 4
    [[ $(last_value running) == true ]] || fail "the receiver stopped"

    log "the keyring comes back"
    start_keyring
    wait_line_count "status: Ready for pairing" 4
    phone --code "$(current_code)" --client-id "$(new_client_id)" </dev/null >"$work/phone4.out"
    # The store drops the dead keyring's connection when a call fails, so this reaches the new one.
    python3 "$here/check_reply.py" accepted --token <"$work/phone4.out" ||
        fail "pairing not saved after the keyring came back ($(last_value status))"
    alive
    quit_corvane
}

scenario_x_display_gone() {
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    local first_code
    first_code=$(current_code)

    log "a phone is admitted over TCP"
    open_phone phone1 --code "$first_code" --client-id "$(new_client_id)"
    wait_line_count "status: Touch device connected" 1
    echo "move 10 10" >&8
    sleep 0.3
    alive

    log "Xvfb goes away"
    # Xvfb is a child of the harness's namespace phase, which started dbus-run-session, our parent.
    local namespace_pid xvfb_pid
    namespace_pid=$(ps -o ppid= -p "$PPID" | tr -d ' ')
    xvfb_pid=$(pgrep -P "$namespace_pid" -x Xvfb) || fail "no Xvfb under the harness"
    kill -TERM "$xvfb_pid"
    ended 10 "$xvfb_pid" || fail "Xvfb did not stop"

    log "the next input ends the connection with the status and a new code"
    echo "move 10 10" >&8
    wait_line_count "status: Accessibility access lost" 1
    close_phone
    alive
    local second_code
    second_code=$(current_code)
    [[ $second_code =~ ^[0-9]{6}$ && $second_code != "$first_code" ]] ||
        fail "no new code after the loss ('$first_code' then '$second_code')"
    [[ $(last_value running) == true ]] || fail "the receiver stopped"

    log "TCP keeps accepting"
    open_phone phone2 --code "$second_code" --client-id "$(new_client_id)"
    wait_line_count "status: Touch device connected" 2
    echo "click" >&8
    wait_line_count "status: Accessibility access lost" 2
    close_phone
    python3 "$here/check_reply.py" accepted --token <"$work/phone2.out" ||
        fail "second phone not admitted"
    alive
    quit_corvane
}

case $scenario in
secret-service-gone) scenario_secret_service_gone ;;
x-display-gone) scenario_x_display_gone ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS"

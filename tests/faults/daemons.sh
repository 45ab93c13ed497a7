#!/usr/bin/env bash
# shellcheck disable=SC2154 # the harness defines work, here, corvane, corvane_out, scenario
# Fault scenarios that take a daemon or the X display away from a running `corvane --headless`.
# The machine is the endtoend harness's (harness.sh).
#
#   daemons.sh BUILD_DIR SCENARIO    SCENARIO: secret-service-gone, x-display-gone, keyring-locked,
#                                              file-fallback-forget
set -euo pipefail

# shellcheck source=tests/faults/harness.sh
source "$(dirname "$0")/harness.sh"

keyring_pid() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        string:org.freedesktop.secrets | awk '{print $2}'
}
stored_tokens() { secret-tool lookup service dev.corvane.receiver.mac.pairings account clients; }

# A phone pairs with the current code; its client ID and token go to $work/NAME.out.
pair_phone() {
    phone --code "$(current_code)" --client-id "$(new_client_id)" </dev/null >"$work/$1.out"
    python3 "$here/check_reply.py" accepted --token <"$work/$1.out" || fail "$1 did not pair"
}

# The keyring's own unlock prompt (gcr-prompter on the Xvfb display): its window id, once shown.
unlock_prompt() { xdotool search --onlyvisible --name '^Unlock .*Keyring' | head -1; }
prompt_shown() { [[ -n $(unlock_prompt) ]]; }
answer_prompt() {
    wait_for 20 "the keyring's unlock prompt" prompt_shown
    local window
    window=$(unlock_prompt)
    xdotool windowfocus --sync "$window"
    if [[ -n $1 ]]; then
        xdotool type --delay 20 "$1"
        xdotool key Return
    else
        xdotool key Escape
    fi
}

scenario_keyring_locked() {
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    local client_id locked="The keyring is locked, and it was not unlocked when asked"
    client_id=$(new_client_id)
    phone --code "$(current_code)" --client-id "$client_id" </dev/null >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --token <"$work/phone1.out" || fail "pairing refused"

    log "the keyring is locked; the user dismisses its prompt at Start and at Forget"
    command_corvane stop
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Lock "[objectpath '/org/freedesktop/secrets/collection/login']" \
        >/dev/null || fail "could not lock the keyring"
    command_corvane start
    answer_prompt ""
    wait_line_count "status: Pairing storage unavailable: $locked" 1
    command_corvane forget
    answer_prompt ""
    wait_line_count "status: Could not forget devices: $locked" 1
    [[ $(last_value running) == false ]] || fail "running on a locked keyring"

    log "the user unlocks it at the next Start: nothing was lost"
    command_corvane start
    answer_prompt pw
    wait_line_count "status: Ready for pairing" 3
    printf 'move 1 1\n' | phone --client-id "$client_id" --token "$(reply_token "$work/phone1.out")" \
        >"$work/phone2.out"
    python3 "$here/check_reply.py" accepted --no-token <"$work/phone2.out" || fail "pairing lost"
    quit_corvane
}

scenario_file_fallback_forget() {
    log "a desktop session pairs a phone into the keyring"
    start_corvane auto
    wait_line_count "status: Ready for pairing" 1
    pair_phone phone1
    quit_corvane
    [[ -n $(stored_tokens) ]] || fail "no tokens in the keyring"

    log "a session without a bus (SSH, a console) falls back to files, and says so"
    local bus=$DBUS_SESSION_BUS_ADDRESS
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
    start_corvane auto
    export DBUS_SESSION_BUS_ADDRESS=$bus
    wait_line_count "status: Ready for pairing" 1
    grep -qx "storage: No keyring answered at launch: pairings are kept in files in $XDG_DATA_HOME/corvane" \
        "$corvane_out" || fail "the fallback was silent: $(last_value storage)"
    pair_phone phone2
    command_corvane forget
    wait_line_count "status: Ready for pairing" 3
    quit_corvane

    log "the next desktop launch removes what the keyring still held"
    start_corvane auto
    wait_line_count "status: Ready for pairing" 1
    [[ -z $(stored_tokens) ]] || fail "the keyring still holds $(stored_tokens)"
    [[ -z $(find "$XDG_DATA_HOME/corvane" -type f) ]] || fail "files left: $(ls -a "$XDG_DATA_HOME/corvane")"
    printf 'move 1 1\n' | phone --client-id "$(new_client_id)" \
        --token "$(reply_token "$work/phone1.out")" >"$work/phone3.out"
    python3 "$here/check_reply.py" rejected <"$work/phone3.out" || fail "a forgotten token let in"
    quit_corvane
}

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
keyring-locked) scenario_keyring_locked ;;
file-fallback-forget) scenario_file_fallback_forget ;;
x-display-gone) scenario_x_display_gone ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS"

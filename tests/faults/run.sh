#!/usr/bin/env bash
# Fault scenarios: what Corvane does when something it leans on fails under it.
#
#   tests/faults/run.sh [--build DIR] SCENARIO|all [--long]
#
#   secret-service-gone  the keyring daemon is killed while `corvane --headless` runs, and returns
#   keyring-locked       the keyring is locked at Start and Forget, and unlocked later
#   file-fallback-forget a session without a keyring falls back to files, and forgets everywhere
#   file-store-sigkill   the file store is SIGKILLed in the middle of writes (200 kills; 1000 --long)
#   x-display-gone       Xvfb goes away while a phone is admitted over TCP
log_tag=faults
scenarios=(secret-service-gone keyring-locked file-fallback-forget file-store-sigkill x-display-gone)
# shellcheck source=tests/support/harness.sh
source "$(dirname "$0")/../support/harness.sh"
run_scenario() {
    [[ $1 == file-store-sigkill ]] || up x session-bus keyring
    "scenario_${1//-/_}"
}

scenario_secret_service_gone() {
    start_corvane
    wait_line "status: Ready for pairing"
    pair phone1 </dev/null
    replied phone1 accepted

    log "the keyring daemon is killed: a new pairing cannot be saved, and says why"
    kill -KILL "$keyring_pid"
    wait_for 10 "the keyring to leave the bus" eval '! keyring_on_bus'
    wait_line "status: Ready for pairing" 2
    pair phone2 </dev/null
    replied phone2 rejected
    local reason
    reason=$(grep -m1 "^status: Could not save pairing: " "$corvane_out") || fail "no \"Could not save pairing\""
    [[ $reason =~ :\ .*[[:alpha:]]{4} ]] || fail "no readable reason: $reason"
    log "$reason"

    log "the phone paired before still gets in; once the keyring returns, pairing works again"
    resume phone1 phone3
    replied phone3 accepted
    up keyring
    wait_line "status: Ready for pairing" 4
    pair phone4 </dev/null
    replied phone4 accepted
    quit_corvane
}

# The keyring's own unlock prompt (gcr-prompter on Xvfb): the user types PASSWORD, or dismisses it.
answer_prompt() {
    wait_for 20 "the keyring's unlock prompt" eval '[[ -n $(window_titled "Unlock .*Keyring") ]]'
    xdotool windowfocus --sync "$(window_titled "Unlock .*Keyring")"
    if [[ -n $1 ]]; then
        xdotool type --delay 20 "$1"
        xdotool key Return
    else
        xdotool key Escape
    fi
}

scenario_keyring_locked() {
    local locked="The keyring is locked, and it was not unlocked when asked"
    start_corvane
    wait_line "status: Ready for pairing"
    pair phone1 </dev/null
    replied phone1 accepted

    log "the keyring is locked; the user dismisses its prompt at Start and at Forget"
    command_corvane stop
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Lock "[objectpath '/org/freedesktop/secrets/collection/login']" >/dev/null
    command_corvane start
    answer_prompt ""
    wait_line "status: Pairing storage unavailable: $locked"
    command_corvane forget
    answer_prompt ""
    wait_line "status: Could not forget devices: $locked"
    [[ $(last_value running) == false ]] || fail "running on a locked keyring"

    log "the user unlocks it at the next Start: nothing was lost"
    command_corvane start
    answer_prompt pw
    wait_line "status: Ready for pairing" 3
    resume phone1 phone2
    replied phone2 accepted
    quit_corvane
}

scenario_file_fallback_forget() {
    log "a desktop session pairs a phone into the keyring"
    start_corvane auto
    wait_line "status: Ready for pairing"
    pair phone1 </dev/null
    quit_corvane
    [[ -n $(stored_tokens) ]] || fail "no tokens in the keyring"

    log "a session without a bus falls back to files, says so, pairs and forgets"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus" start_corvane auto
    wait_line "status: Ready for pairing"
    printed "storage: No keyring answered at launch: pairings are kept in files in $XDG_DATA_HOME/corvane" ||
        fail "the fallback was silent: $(last_value storage)"
    pair phone2 </dev/null
    command_corvane forget
    wait_line "status: Ready for pairing" 3
    quit_corvane

    log "the next desktop launch removes what the keyring still held"
    start_corvane auto
    wait_line "status: Ready for pairing"
    [[ -z $(stored_tokens) ]] || fail "the keyring still holds $(stored_tokens)"
    [[ -z $(find "$XDG_DATA_HOME/corvane" -type f) ]] || fail "files left: $(ls -a "$XDG_DATA_HOME/corvane")"
    resume phone1 phone3
    replied phone3 rejected
    quit_corvane
}

scenario_x_display_gone() {
    start_corvane
    wait_line "status: Ready for pairing"
    local first_code
    first_code=$(current_code)
    open_phone phone1 --code "$first_code" --client-id "$(new_client_id)"
    wait_line "status: Touch device connected"

    log "Xvfb goes away: the next input ends the connection with the status and a new code"
    down "$xvfb_pid"
    echo "move 10 10" >&8
    wait_line "status: Accessibility access lost"
    close_phone
    kill -0 "$corvane_pid" || fail "corvane died: $(tail -5 "$work/corvane.log")"
    [[ $(current_code) != "$first_code" && $(last_value running) == true ]] ||
        fail "no new code, or stopped, after the loss"

    log "TCP keeps accepting, and the next input says the same"
    open_phone phone2 --code "$(current_code)" --client-id "$(new_client_id)"
    wait_line "status: Touch device connected" 2
    echo "click" >&8
    wait_line "status: Accessibility access lost" 2
    close_phone
    replied phone2 accepted
    quit_corvane
}

# A writer rewrites the pairing item through the file store, generation after generation, and is
# SIGKILLed 0 to 40 ms after it starts; after each kill the item must hold the generation being
# written or the one before it (or no item before the first write), and at most the killed
# write's own temporary file may be left.
scenario_file_store_sigkill() {
    local writer=$build/tests/faults/corvane-fault-writer folder=$work/store kills=200 kill pid
    local status held=0 old=0 new=0 idle=0 announced found left most=0
    ! $long || kills=1000
    : >"$work/progress"
    for ((kill = 1; kill <= kills; ++kill)); do
        "$writer" write "$folder" $((held + 1)) >"$work/progress" 2>"$work/writer.log" &
        pid=$!
        sleep "$(printf '0.%03d' $((RANDOM % 41)))"
        kill -KILL "$pid" 2>/dev/null || true
        status=0
        wait "$pid" 2>/dev/null || status=$?
        ((status == 137)) || fail "kill $kill: the writer ended by itself ($status): $(cat "$work/writer.log")"
        announced=$(tail -n 1 "$work/progress")
        found=$("$writer" check "$folder" 2>"$work/check.log") || fail "kill $kill: $(cat "$work/check.log")"
        if [[ -z $announced && $found == "$held" ]]; then
            ((++idle))
        elif [[ -n $announced && $found == "$announced" ]]; then
            ((++new))
        elif [[ -n $announced && $found == $((announced - 1)) ]]; then
            ((++old))
        else
            fail "kill $kill: the item holds generation $found, while ${announced:-nothing} was written after $held"
        fi
        held=$found
        left=$(find "$folder" -name '.pending~*' 2>/dev/null | wc -l)
        ((left <= 1)) || fail "kill $kill: $left temporary files piled up"
        most=$((left > most ? left : most))
    done
    log "$kills kills, the item whole after each: $old held the previous generation, $new the new" \
        "one, $idle came before the first write; $held generations written; at most $most" \
        "temporary file left at a time"
}

harness_main "$@"

#!/usr/bin/env bash
# Fault scenarios: what Corvane does when something it leans on fails under it.
#   tests/faults/run.sh [--build DIR] SCENARIO|all [--long]
#   secret-service-gone  the keyring daemon is killed while `corvane --headless` runs
#   keyring-locked       the keyring is locked at Start, and unlocked at the next
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
    start_ready
    paired phone1

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

    log "the phone paired before still gets in"
    resume phone1 phone3 accepted
    quit_corvane
}

# The keyring's own unlock prompt (gcr-prompter on Xvfb): the user types PASSWORD, or dismisses it.
answer_prompt() {
    wait_for 20 "the keyring's unlock prompt" eval '[[ -n $(window_titled "Unlock .*Keyring") ]]'
    xdotool windowfocus --sync "$(window_titled "Unlock .*Keyring")"
    [[ -z $1 ]] || xdotool type --delay 20 "$1"
    xdotool key "$([[ -n $1 ]] && echo Return || echo Escape)"
}

scenario_keyring_locked() {
    local locked="The keyring is locked, and it was not unlocked when asked"
    start_ready
    paired phone1

    log "the keyring is locked; the user dismisses its prompt at Start"
    command_corvane stop
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Lock "[objectpath '/org/freedesktop/secrets/collection/login']" >/dev/null
    command_corvane start
    answer_prompt ""
    wait_line "status: Pairing storage unavailable: $locked"

    log "the user unlocks it at the next Start: nothing was lost"
    command_corvane start
    answer_prompt pw
    wait_line "status: Ready for pairing" 3
    resume phone1 phone2 accepted
    quit_corvane
}

scenario_file_fallback_forget() {
    log "a desktop session pairs a phone into the keyring"
    start_ready auto
    paired phone1
    quit_corvane
    [[ -n $(stored_tokens) ]] || fail "no tokens in the keyring"

    log "a session without a bus falls back to files, says so, pairs and forgets"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus" start_ready auto
    printed "storage: No keyring answered at launch: pairings are kept in files in $XDG_DATA_HOME/corvane" ||
        fail "the fallback was silent: $(last_value storage)"
    paired phone2
    command_corvane forget
    wait_line "status: Ready for pairing" 3
    quit_corvane

    log "the next desktop launch removes what the keyring still held"
    start_ready auto
    [[ -z $(stored_tokens) ]] || fail "the keyring still holds $(stored_tokens)"
    [[ -z $(find "$XDG_DATA_HOME/corvane" -type f) ]] || fail "files left: $(ls -a "$XDG_DATA_HOME/corvane")"
    resume phone1 phone3 rejected
    quit_corvane
}

scenario_x_display_gone() {
    start_ready
    local first_code
    first_code=$(current_code)
    open_phone phone1 --code "$first_code" --client-id "$(new_client_id)"
    wait_line "status: Touch device connected"

    log "Xvfb goes away: the next input ends the connection with the status and a new code; corvane lives on"
    down "$xvfb_pid"
    echo "move 10 10" >&8
    wait_line "status: Accessibility access lost"
    close_phone
    [[ $(current_code) != "$first_code" && $(last_value running) == true ]] ||
        fail "no new code, or stopped, after the loss"
    quit_corvane
}

# A writer rewrites the pairing item through the file store and is SIGKILLed 0 to 40 ms after it
# starts; the item must then hold the generation being written or the one before it, and at most
# the killed write's own temporary file may be left.
scenario_file_store_sigkill() {
    local writer=$build/tests/faults/corvane-fault-writer folder=$work/store kills=200 kill pid
    local status held=0 old=0 new=0 idle=0 announced found left
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
    done
    log "$kills kills, the item whole after each: $old held the previous generation, $new the new" \
        "one, $idle came before the first write; $held generations written; never more than one" \
        "temporary file left"
}

harness_main "$@"

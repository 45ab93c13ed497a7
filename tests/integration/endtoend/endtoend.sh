#!/usr/bin/env bash
# `corvane --headless` end to end against real daemons, judged by outside witnesses only.
#   endtoend.sh [--build DIR] SCENARIO|all
#   pairing            TCP pairing found through avahi-daemon (renamed around a squatter, said when
#                      the daemon goes, back when it returns), in the keyring, moving the X pointer
#   bluetooth-pairing  a bonded central pairs over GATT with the fake BlueZ (5.66), moves the
#                      pointer, leaves, and is served again with its token when it comes back
#   portal             Wayland: consent first, input as the portal's Notify calls and not on X, a
#                      closed session is access lost, restore tokens, a denial leaves it stopped
log_tag=endtoend
scenarios=(pairing bluetooth-pairing portal)
# shellcheck source=tests/support/harness.sh
source "$(dirname "$0")/../../support/harness.sh"
run_scenario() { "scenario_${1//-/_}"; }

# The resolved service on port 55440 as NAME;TXT.
advertised() {
    avahi-browse -rpt _corvane._tcp 2>/dev/null | sed 's/\\032/ /g; s/\\035/#/g' |
        awk -F';' '$1 == "=" && $9 == 55440 { print $4 ";" $10; f = 1; exit } END { exit !f }'
}

scenario_pairing() {
    up x system-bus avahi session-bus keyring
    local host=$HOSTNAME host_id
    avahi-publish -s "$host" _corvane._tcp 1234 >"$work/squatter.log" 2>&1 &
    started $!
    wait_for 20 "the squatter" grep -q Established "$work/squatter.log"
    start_ready
    printed "bluetooth: Bluetooth LE peripheral mode unavailable" || fail "Bluetooth: $(last_value bluetooth)"
    wait_for 20 "our service" advertised
    [[ $(advertised) == "$host #2;\"id="* ]] || fail "advertised as '$(advertised)'"
    host_id=$(advertised | sed 's/.*"id=\(.*\)"$/\1/')

    log "pairing moves the pointer and stores the token in the keyring"
    xdotool mousemove 100 100
    printf 'move 30 20\nmove 5 5\n' | pair phone1
    replied phone1 accepted "$host_id"
    wait_pointer 135 125
    [[ $(stored_tokens) == *"\"$(cat "$work/phone1.id")\":\"$(reply phone1 token)\""* ]] ||
        fail "the keyring holds '$(stored_tokens)'"

    log "without avahi-daemon it says so and TCP still serves; forget empties the keyring"
    down "$avahi_pid"
    wait_line "publishing: Phones cannot find this computer: avahi-daemon is not running"
    command_corvane forget
    wait_line "status: Ready for pairing" 3
    resume phone1 phone2 rejected
    [[ $(stored_tokens || true) =~ ^(\{\})?$ ]] || fail "the keyring still holds $(stored_tokens)"

    log "published again when the daemon returns"
    up avahi
    wait_for 30 "the service again" advertised
    wait_for 10 "the publishing problem to clear" printed "publishing: " 2
    kill -TERM "$corvane_pid"
    exits_cleanly "$corvane_pid" SIGTERM
    [[ $(last_value status) == Stopped ]] || fail "last status is not Stopped"
}

# The fake BlueZ of tests/integration/bluez on the system bus, through fds 5 (answers) and 6
# (commands): bluez [COMMAND...] leaves its JSON answer in $bluez_reply, and fails unless it is ok.
start_fake_bluez() {
    coproc FAKE_BLUEZ { exec /usr/bin/python3 "$here/../bluez/fake_bluez.py" 2>>"$work/fake-bluez.log" 7>&-; }
    started "$FAKE_BLUEZ_PID"
    exec 5<&"${FAKE_BLUEZ[0]}" 6>&"${FAKE_BLUEZ[1]}"
    bluez
}
bluez() {
    (($# == 0)) || echo "$*" >&6
    IFS= read -r -t 20 bluez_reply <&5 && [[ $bluez_reply == '{"ok": true'* ]] || fail "fake BlueZ: '$*' answered '$bluez_reply'"
}
registered() { bluez status && [[ $bluez_reply == *'"application": {'*'"LocalName": "Corvane Mac"'* ]]; }
# central_send DEVICE TEXT: TEXT as writes of 20 bytes (MTU 23), as a phone cuts it.
central_send() {
    local hex
    hex=$(printf '%s\n' "$2" | xxd -p | tr -d '\n')
    while [[ -n $hex ]]; do
        bluez write "$1" 23 0 "${hex:0:40}"
        hex=${hex:40}
    done
}
# central_reply DEVICE NAME: the notifications waiting for DEVICE, as the phone NAME's replies.
central_reply() {
    bluez read "$1"
    grep -o '"[0-9a-f]*"' <<<"$bluez_reply" | tr -d '"\n' | xxd -r -p >"$work/$2.out"
}

scenario_bluetooth_pairing() {
    up x system-bus
    start_fake_bluez
    start_ready file
    wait_for 20 "the GATT application and advertisement" registered

    log "a bonded central pairs with the code and moves the pointer"
    local client_id
    client_id=$(new_client_id)
    bluez connect phone bonded
    bluez subscribe phone 23
    central_send phone "{\"kind\":\"hello\",\"code\":\"$(current_code)\",\"clientID\":\"$client_id\"}"
    central_reply phone central1
    replied central1 accepted
    wait_line "status: Touch device connected over Bluetooth"
    xdotool mousemove 100 100
    central_send phone '{"kind":"move","dx":30,"dy":20}'
    wait_pointer 130 120

    log "it leaves, and is served again with its token when it comes back unannounced"
    bluez disconnect phone
    wait_line "status: Ready for pairing" 2
    bluez connect phone
    bluez subscribe phone 23
    [[ $bluez_reply == *'"acquired": false'* ]] || fail "BlueZ announced the returning phone"
    central_send phone "{\"kind\":\"hello\",\"clientID\":\"$client_id\",\"token\":\"$(reply central1 token)\"}"
    central_reply phone central2
    replied central2 accepted
    central_send phone '{"kind":"move","dx":10,"dy":10}'
    wait_pointer 140 130
    quit_corvane
}

# The fake desktop's record of RemoteDesktop calls.
portal_calls() { grep -F "\"call\": \"$1" "$work/desktop.out" || true; }
restores_with() {
    local asked
    asked=$(portal_calls SelectDevices | tail -1)
    [[ $asked == *'"persist_mode": 2'* && $(grep -o '"restore_token": "[^"]*"' <<<"$asked") == "${1:+\"restore_token\": \"$1\"}" ]] ||
        fail "SelectDevices asked $asked"
}
asked_consent() { (($(portal_calls Start | wc -l) >= $1)); }
notified() { portal_calls Notify | sed 's/{"call": "\(.*\)", "args": \(.*\)}/\1 \2/' | cmp -s "$work/notify.expected" -; }
start_wayland_corvane() { corvane_input='' WAYLAND_DISPLAY=wayland-test XDG_SESSION_TYPE=wayland start_corvane file; }

scenario_portal() {
    up x session-bus desktop
    local pointer
    pointer=$(xdotool getmouselocation)

    log "the start waits for consent; input arrives as Notify calls, not on the X display"
    start_wayland_corvane
    wait_line "status: Ready for pairing"
    printed "status: Grant Accessibility access, then start the receiver." || fail "started before consent"
    restores_with ""
    printf '%s\n' "move 30 20" click rightClick "scroll 0 40" "key undo" | pair phone1
    replied phone1 accepted
    # BTN_LEFT, BTN_RIGHT, two notches down, Ctrl+Z as keysyms.
    printf '%s\n' "NotifyPointerMotion [30.0, 20.0]" "NotifyPointerButton [272, 1]" "NotifyPointerButton [272, 0]" \
        "NotifyPointerButton [273, 1]" "NotifyPointerButton [273, 0]" "NotifyPointerAxisDiscrete [0, 1]" \
        "NotifyPointerAxisDiscrete [0, 1]" "NotifyKeyboardKeysym [65507, 1]" "NotifyKeyboardKeysym [122, 1]" \
        "NotifyKeyboardKeysym [122, 0]" "NotifyKeyboardKeysym [65507, 0]" >"$work/notify.expected"
    wait_for 10 "the phone's input at the portal" notified
    [[ $(xdotool getmouselocation) == "$pointer" ]] || fail "the X pointer moved"

    log "a closed session is access lost at the next input"
    kill -USR1 "$desktop_pid"
    wait_line "accessibility: false" 2
    resume phone1 phone2
    wait_line "status: Accessibility access lost"
    quit_corvane

    log "the next run restores with the token; a denial leaves the receiver stopped"
    start_wayland_corvane
    wait_line "status: Ready for pairing"
    restores_with token-1
    quit_corvane
    kill -USR2 "$desktop_pid"
    start_wayland_corvane
    wait_for 20 "the third consent dialog" asked_consent 3
    restores_with token-2
    sleep 1
    [[ $(last_value status) == "Grant Accessibility access, then start the receiver." ]] ||
        fail "status after the denial: $(last_value status)"
    ! printed "running: true" || fail "running although the user said no"
    quit_corvane
}

harness_main "$@"

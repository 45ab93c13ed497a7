# The Bluetooth scenarios of endtoend.sh, sourced by its session phase: corvane --headless on the
# private system bus, with or without the fake BlueZ of tests/integration/bluez acting as the
# phone's central.
#
#   bluetooth-pairing  a bonded central pairs with the code over GATT, moves the pointer, leaves,
#                      and is served again with its token when it comes back (the fake acts as
#                      BlueZ 5.66: the returning phone is not announced)
#   no-bluez           nothing owns org.bluez: Bluetooth is reported unavailable, TCP still pairs
#
# Everything else it uses (work, corvane_out, start_corvane, phone...) is endtoend.sh's or
# tests/support/harness.sh's.
# shellcheck shell=bash disable=SC2154

fake_bluez="$here/../bluez/fake_bluez.py"
fake_reply() { /usr/bin/python3 "$here/fake_reply.py" "$@"; }
service_uuid=b9f74ee8-3e8b-4a7e-a02d-e09d960df301
# Notifications carry at most MTU - 3 bytes; a phone writes no more than that at a time either.
mtu=23
chunk=$((mtu - 3))

# start_fake_bluez: the fake, with a powered adapter, on our system bus; it is driven through
# fds 5 (its answers) and 6 (its commands).
start_fake_bluez() {
    # The distribution's python3 has the dbus and gi modules the fake needs.
    coproc FAKE_BLUEZ { exec /usr/bin/python3 "$fake_bluez" 2>>"$work/fake-bluez.log" 7>&-; }
    pids+=("$FAKE_BLUEZ_PID")
    exec 5<&"${FAKE_BLUEZ[0]}" 6>&"${FAKE_BLUEZ[1]}"
    read_fake_reply
    fake_reply ok <<<"$bluez_reply" || fail "the fake BlueZ did not start: $bluez_reply"
}

read_fake_reply() {
    IFS= read -r -t 20 bluez_reply <&5 || fail "no answer from the fake BlueZ"
    echo "<- $bluez_reply" >>"$work/fake-bluez.out"
}

# bluez COMMAND...: one command to the fake; its JSON answer lands in $bluez_reply.
bluez() {
    echo "-> $*" >>"$work/fake-bluez.out"
    echo "$*" >&6
    read_fake_reply
}

bluez_ok() {
    bluez "$@"
    fake_reply ok <<<"$bluez_reply" || fail "fake BlueZ: '$*' answered $bluez_reply"
}

hex_of() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# central_send DEVICE TEXT: TEXT as consecutive writes of at most one notification's payload, as
# a phone cuts it, so lines straddle writes and one write may end a line and start the next.
central_send() {
    local hex
    hex=$(hex_of "$2")
    while [[ -n $hex ]]; do
        bluez_ok write "$1" "$mtu" 0 "${hex:0:$((chunk * 2))}"
        hex=${hex:$((chunk * 2))}
    done
}

# central_replies DEVICE [MIN_RECORDS]: the notifications waiting for DEVICE, joined into text.
central_replies() {
    bluez_ok read "$1"
    fake_reply notifications --max-record "$chunk" --min-records "${2:-0}" <<<"$bluez_reply" ||
        fail "notifications: $bluez_reply"
}

advertising() {
    bluez_ok status
    fake_reply advertising "$service_uuid" "Corvane Mac" <<<"$bluez_reply"
}

withdrawn() {
    bluez_ok status
    fake_reply withdrawn <<<"$bluez_reply"
}

pointer_at() { [[ $(xdotool getmouselocation) == "x:$1 y:$2 "* ]]; }
wait_pointer() {
    local deadline=$((SECONDS + 5))
    until pointer_at "$1" "$2"; do
        ((SECONDS < deadline)) || fail "pointer at '$(xdotool getmouselocation)', expected $1,$2"
        sleep 0.1
    done
}

milliseconds() { echo $(($(date +%s%N) / 1000000)); }

# refused_write DEVICE OFFSET TEXT: one write that must be answered "write not permitted".
refused_write() {
    bluez write "$1" "$mtu" "$2" "$(hex_of "$3")"
    fake_reply error NotPermitted <<<"$bluez_reply" ||
        fail "write by $1 at offset $2 answered $bluez_reply"
}

# tcp_refused CODE: a TCP phone with a valid code is closed at once, unanswered.
tcp_refused() {
    local started elapsed status=0
    started=$(milliseconds)
    "$touch_tool" 127.0.0.1 "$port" --linger 5000 --code "$1" </dev/null \
        >"$work/refused.out" 2>"$work/refused.log" || status=$?
    elapsed=$(($(milliseconds) - started))
    [[ ! -s $work/refused.out ]] || fail "refused TCP phone got '$(cat "$work/refused.out")'"
    # The close may already reset the connection while the phone sends its hello.
    grep -qE "connection closed by the receiver|send failed" "$work/refused.log" ||
        fail "TCP phone not closed (exit $status): $(cat "$work/refused.log")"
    ((elapsed < 4000)) || fail "TCP phone closed only after ${elapsed} ms"
}

scenario_bluetooth_pairing() {
    start_fake_bluez
    start_corvane file
    wait_line_count "status: Ready for pairing" 1
    wait_line_count "bluetooth: Starting Bluetooth advertising…" 1
    wait_for 20 "the GATT application and advertisement" advertising
    [[ $(last_value bluetooth) == "Starting Bluetooth advertising…" ]] ||
        fail "Bluetooth went on to '$(last_value bluetooth)'"
    wait_for 20 "the DNS-SD service" browse_field --txt-id
    local txt_id code
    txt_id=$(browse_field --txt-id)
    code=$(current_code)
    [[ $code =~ ^[0-9]{6}$ ]] || fail "no six-digit code: '$code'"

    log "pairing over GATT"
    bluez_ok connect phone bonded
    bluez_ok subscribe phone "$mtu"
    local client_id token
    client_id=$(new_client_id)
    central_send phone "{\"kind\":\"hello\",\"code\":\"$code\",\"clientID\":\"$client_id\"}"$'\n'
    central_replies phone 2 >"$work/central1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --token <"$work/central1.out" ||
        fail "Bluetooth pairing not accepted"
    [[ $(wc -l <"$work/central1.out") -eq 1 ]] || fail "more than one reply to one hello"
    wait_line_count "status: Touch device connected over Bluetooth" 1
    token=$(reply_token "$work/central1.out")
    grep -qF "\"$client_id\":\"$token\"" "$XDG_DATA_HOME"/corvane/*.secret ||
        fail "the pairing was not stored: $(cat "$XDG_DATA_HOME"/corvane/*.secret)"

    log "input over GATT"
    xdotool mousemove 100 100
    wait_pointer 100 100
    central_send phone '{"kind":"move","dx":30,"dy":20}'$'\n''{"kind":"move","dx":5,"dy":5}'$'\n'
    wait_pointer 135 125
    central_replies phone >"$work/central2.out"
    [[ ! -s $work/central2.out ]] || fail "input answered with '$(cat "$work/central2.out")'"

    log "refusals while the central holds the slot"
    refused_write phone 1 '{"kind":"click"}'
    bluez_ok connect intruder
    refused_write intruder 0 '{"kind":"move","dx":50,"dy":50}'$'\n'
    central_send phone "{\"kind\":\"hello\",\"code\":\"$code\"}"$'\n'
    central_replies phone >"$work/central3.out"
    python3 "$here/check_reply.py" rejected <"$work/central3.out" ||
        fail "a second hello was not rejected"
    pointer_at 135 125 || fail "refused input moved the pointer: $(xdotool getmouselocation)"
    tcp_refused "$code"
    [[ $(last_value status) == "Touch device connected over Bluetooth" ]] ||
        fail "the refused TCP phone changed the status to '$(last_value status)'"

    log "the central leaves"
    local codes_before
    codes_before=$(grep -c '^code: ' "$corvane_out")
    bluez_ok disconnect phone
    wait_line_count "status: Ready for pairing" 2
    (($(grep -c '^code: ' "$corvane_out") > codes_before)) || fail "no new code once it left"
    code=$(current_code)
    [[ $code =~ ^[0-9]{6}$ ]] || fail "no six-digit code: '$code'"
    printf '' | phone --code "$code" >"$work/phone.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --no-token <"$work/phone.out" ||
        fail "TCP not admitted once the central left"

    log "the bonded central comes back"
    bluez_ok connect phone
    bluez_ok subscribe phone "$mtu"
    [[ $bluez_reply == *'"acquired": false'* ]] || fail "BlueZ announced the returning phone"
    central_send phone "{\"kind\":\"hello\",\"clientID\":\"$client_id\",\"token\":\"$token\"}"$'\n'
    central_replies phone 1 >"$work/central4.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --no-token <"$work/central4.out" ||
        fail "the returning central was not served"
    wait_line_count "status: Touch device connected over Bluetooth" 2
    xdotool mousemove 100 100
    wait_pointer 100 100
    central_send phone '{"kind":"move","dx":10,"dy":10}'$'\n'
    wait_pointer 110 110

    log "stop withdraws the service"
    command_corvane stop
    wait_line_count "bluetooth: Bluetooth stopped" 1
    wait_for 10 "the application and advertisement to be withdrawn" withdrawn
    quit_corvane
    bluez_ok quit
}

scenario_no_bluez() {
    start_corvane
    wait_line_count "bluetooth: Bluetooth LE peripheral mode unavailable" 1
    wait_line_count "status: Ready for pairing" 1
    grep -qx "running: true" "$corvane_out" || fail "not running without BlueZ"
    wait_for 20 "the DNS-SD service" browse_field --txt-id
    local txt_id
    txt_id=$(browse_field --txt-id)

    log "TCP pairing without Bluetooth"
    xdotool mousemove 100 100
    wait_pointer 100 100
    local client_id
    client_id=$(new_client_id)
    printf 'move 30 20\n' | phone --code "$(current_code)" --client-id "$client_id" \
        >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --host-id "$txt_id" --token <"$work/phone1.out" ||
        fail "TCP pairing not accepted without BlueZ"
    wait_pointer 130 120

    log "BlueZ appears later"
    start_fake_bluez
    wait_line_count "bluetooth: Starting Bluetooth advertising…" 1
    wait_for 20 "the GATT application and advertisement" advertising
    quit_corvane
    bluez_ok quit
}

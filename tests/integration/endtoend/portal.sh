# The Wayland scenario of endtoend.sh, sourced by its session phase: corvane --headless on a
# Wayland session (WAYLAND_DISPLAY set, CORVANE_INPUT unset) with the fake xdg-desktop-portal on
# the private session bus, and Xvfb still answering $DISPLAY as XWayland would.
#
#   portal  the start waits for the consent dialog; input arrives as Notify calls and not on the X
#           display; a closed session is access lost; the next run restores with the newest
#           token; a denied dialog leaves the receiver stopped
#
# Everything else it uses (work, corvane_out, start_corvane, phone...) is endtoend.sh's or
# tests/support/harness.sh's.
# shellcheck shell=bash disable=SC2154

fake_portal="$here/fake_portal.py"
check_portal() { /usr/bin/python3 "$here/check_portal.py" "$@"; }

# start_fake_portal: the fake on the session bus, driven through fds 3 (its answers) and 4 (its
# commands).
start_fake_portal() {
    coproc FAKE_PORTAL { exec /usr/bin/python3 "$fake_portal" 2>>"$work/fake-portal.log" 7>&-; }
    pids+=("$FAKE_PORTAL_PID")
    exec 3<&"${FAKE_PORTAL[0]}" 4>&"${FAKE_PORTAL[1]}"
    read_portal_reply
    [[ $portal_reply == *'"ok": true'* ]] || fail "the fake portal did not start: $portal_reply"
}

read_portal_reply() {
    IFS= read -r -t 20 portal_reply <&3 || fail "no answer from the fake portal"
    echo "<- $portal_reply" >>"$work/fake-portal.out"
}

# portal COMMAND...: one command to the fake, which must succeed; its answer is in $portal_reply.
portal() {
    echo "-> $*" >>"$work/fake-portal.out"
    echo "$*" >&4
    read_portal_reply
    [[ $portal_reply == '{"ok": true'* ]] || fail "fake portal: '$*' answered $portal_reply"
}

portal_check() {
    portal calls
    check_portal "$@" <<<"$portal_reply"
}

start_wayland_corvane() {
    corvane_input='' WAYLAND_DISPLAY=wayland-test XDG_SESSION_TYPE=wayland start_corvane file
}

scenario_portal() {
    start_fake_portal
    # A witness on the X display; it also keeps Xvfb from resetting between clients.
    xinput test-xi2 --root >"$work/xinput.out" 2>&1 &
    pids+=($!)
    sleep 0.5
    local pointer
    pointer=$(xdotool getmouselocation)

    log "the start waits for the consent dialog"
    start_wayland_corvane
    wait_line_count "status: Ready for pairing" 1
    printed "status: Grant Accessibility access, then start the receiver." 1 ||
        fail "the receiver started before the user consented"
    grep -q "input through the RemoteDesktop portal" "$work/corvane.log" ||
        fail "not the portal: $(cat "$work/corvane.log")"
    portal_check restore-token none || fail "the first session"

    log "input arrives as Notify calls"
    local client_id token
    client_id=$(new_client_id)
    printf '%s\n' "move 30 20" click rightClick "scroll 0 40" "key undo" |
        phone --code "$(current_code)" --client-id "$client_id" >"$work/phone1.out"
    python3 "$here/check_reply.py" accepted --token <"$work/phone1.out" || fail "pairing refused"
    token=$(reply_token "$work/phone1.out")
    # Left and right button (BTN_LEFT, BTN_RIGHT), two notches down, Ctrl+Z as keysyms.
    wait_for 10 "the phone's input at the portal" portal_check notify '[
        ["NotifyPointerMotion", [30.0, 20.0]],
        ["NotifyPointerButton", [272, 1]], ["NotifyPointerButton", [272, 0]],
        ["NotifyPointerButton", [273, 1]], ["NotifyPointerButton", [273, 0]],
        ["NotifyPointerAxisDiscrete", [0, 1]], ["NotifyPointerAxisDiscrete", [0, 1]],
        ["NotifyKeyboardKeysym", [65507, 1]], ["NotifyKeyboardKeysym", [122, 1]],
        ["NotifyKeyboardKeysym", [122, 0]], ["NotifyKeyboardKeysym", [65507, 0]]]'
    ! grep -q "^EVENT" "$work/xinput.out" || fail "the X display saw input: $(head "$work/xinput.out")"
    [[ $(xdotool getmouselocation) == "$pointer" ]] ||
        fail "the X pointer moved from '$pointer' to '$(xdotool getmouselocation)'"

    log "a closed session is access lost at the next input"
    portal close
    wait_line_count "accessibility: false" 2
    printf 'move 1 1\n' | phone --client-id "$client_id" --token "$token" >"$work/phone2.out" || true
    wait_line_count "status: Accessibility access lost" 1
    quit_corvane

    log "the next run restores the session with the newest token"
    start_wayland_corvane
    wait_line_count "status: Ready for pairing" 1
    portal_check restore-token token-1 || fail "the first token was not passed"
    quit_corvane

    log "a denied dialog leaves the receiver stopped"
    portal answer deny
    start_wayland_corvane
    wait_for 20 "the third consent dialog" portal_check count Start 3
    portal_check restore-token token-2 || fail "the newest token was not passed"
    sleep 1
    [[ $(last_value status) == "Grant Accessibility access, then start the receiver." ]] ||
        fail "status after the denial: $(last_value status)"
    ! printed "running: true" 1 || fail "running although the user said no"
    quit_corvane
    portal quit
}

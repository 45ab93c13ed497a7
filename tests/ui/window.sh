#!/usr/bin/env bash
# The program's window, started as a user starts it (`corvane`) on Xvfb, judged from outside.
#   tests/ui/window.sh [--build DIR] SCENARIO|all
#   screenshots      driven from the keyboard, each state photographed into DIR/tests/ui/screenshots
#   desktop-session  with the fake tray and notification server: the tray icon and its menu, a
#                    second launch, closing the window with and without a tray, one notification
#                    for a pairing, Start at Login
log_tag=window
scenarios=(screenshots desktop-session)
# shellcheck source=tests/support/harness.sh
source "$(dirname "$0")/../support/harness.sh"
title="Corvane Companion"

run_scenario() {
    up x
    export CORVANE_INPUT=xtest CORVANE_SECRETS=file QT_QPA_PLATFORM=xcb
    "scenario_${1//-/_}"
}
start_window() {
    "$corvane" >>"$work/corvane.log" 2>&1 &
    started $! corvane_pid
    watched_pid=$corvane_pid
    wait_for 20 "a window titled \"$title\"" has_window "$title"
}

# shows_colour WINDOW COLOUR [==]: whether some pixel of the window is close to COLOUR (none: ==).
shows_colour() {
    import -window "$1" "$work/probe.png"
    (($(convert "$work/probe.png" -alpha off -fuzz 6% -fill black +opaque "$2" -fill white -opaque "$2" \
        -format "%[fx:round(mean*w*h)]" info:) ${3:->} 0))
}
# shoot WINDOW NAME: saves the window once two drawn frames in a row agree, so that no blank or
# half-drawn frame, and no pending layout, ends up in the picture.
shoot() {
    local file=$out/$2.png previous=$work/previous.png current=$work/current.png
    for _ in $(seq 50); do
        import -window "$1" "$current"
        if [[ -f $previous ]] && (($(identify -format "%k" "$current") > 16)) &&
            compare -metric AE "$previous" "$current" null: 2>/dev/null; then
            mv "$current" "$file"
            rm "$previous"
            echo "$2.png: $file ($(identify -format "%wx%h" "$file"))"
            return
        fi
        mv "$current" "$previous"
        sleep 0.2
    done
    fail "the window kept changing; no stable picture for $2"
}

scenario_screenshots() {
    # Colours only one state shows: the running dot, and the forget confirmation's destructive button.
    local main green="#34c759" red="#c4261d"
    out=$build/tests/ui/screenshots
    mkdir -p "$out"
    rm -f "$out"/*.png
    start_window
    main=$(window_titled "$title")
    shoot "$main" stopped

    # Start Receiver, Forget Paired Devices and Help come in this order in the focus chain.
    xdotool windowfocus --sync "$main"
    xdotool key Tab space
    wait_for 10 "the receiver to listen" listening
    wait_for 10 "the green dot" shows_colour "$main" "$green"
    shoot "$main" running
    xdotool key Tab space
    wait_for 10 "the forget confirmation" shows_colour "$main" "$red"
    shoot "$main" forget
    xdotool key Escape
    wait_for 10 "the forget confirmation to close" shows_colour "$main" "$red" ==
    xdotool key Tab space
    wait_for 10 "the help window" has_window "$title Help"
    shoot "$(window_titled "$title Help")" help
}

desktop() { /usr/bin/python3 "$here/../support/fake_desktop.py" "$@"; }
menu_shows() { desktop menu | grep -qxF "$1"; }
# Asks the window to close as a window manager does when the user clicks its close button.
close_window() {
    /usr/bin/python3 - "$(window_titled "$title")" <<'PYTHON'
import sys
from Xlib import X, display, protocol
screen = display.Display()
window = screen.create_resource_object("window", int(sys.argv[1]))
window.send_event(protocol.event.ClientMessage(window=window, client_type=screen.intern_atom("WM_PROTOCOLS"),
                  data=(32, [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
screen.flush()
PYTHON
    wait_for 10 "the window to close" eval '! has_window "$title"'
}

scenario_desktop_session() {
    up session-bus
    log "the tray comes after corvane: the icon registers once it does"
    start_window
    up desktop
    wait_for 10 "the tray icon's registration" grep -q registered "$work/desktop.out"
    wait_for 10 "the stopped menu" menu_shows "Start Receiver|true|true|-1"
    desktop click "Start Receiver"
    wait_for 10 "the receiver to listen" listening

    log "a second corvane hands over; a second headless one is refused"
    timeout 10 "$corvane" >"$work/second.log" 2>&1 || fail "the second corvane: $(cat "$work/second.log")"
    local status=0
    timeout 10 "$corvane" --headless >"$work/second.log" 2>&1 || status=$?
    ((status == 1)) && grep -q "already running" "$work/second.log" ||
        fail "the second headless corvane exited with $status: $(cat "$work/second.log")"
    (($(xdotool search --onlyvisible --name "^$title\$" | wc -l) == 1)) || fail "not one window"
    (($(ss -ltnpH "sport = :55440" | grep -o 'pid=[0-9]*' | sort -u | wc -l) == 1)) || fail "not one listener"

    log "closing the window with a tray keeps the receiver serving a phone, with one notification"
    close_window
    xdotool mousemove 100 100
    printf 'move 30 20\n' | phone phone1 --client-id "$(new_client_id)" \
        --code "$(desktop menu | sed -n 's/^Pairing code \([0-9]*\)|.*/\1/p')"
    replied phone1 accepted
    wait_pointer 130 120
    wait_for 10 "the pairing's notification" grep -q "New device paired" "$work/desktop.out"
    (($(grep -c "New device paired" "$work/desktop.out") == 1)) || fail "more than one notification"

    log "Show Window opens it again"
    desktop click "Show Window"
    wait_for 10 "the window to come back" has_window "$title"

    log "Start at Login writes and removes a valid autostart entry"
    local entry=$XDG_CONFIG_HOME/autostart/dev.corvane.Corvane.desktop
    desktop click "Start at Login"
    wait_for 10 "the autostart entry" test -f "$entry"
    desktop-file-validate "$entry" || fail "the autostart entry is not valid"
    wait_for 10 "Start at Login checked" menu_shows "Start at Login|true|true|1"
    desktop click "Start at Login"
    wait_for 10 "the autostart entry to go" test ! -e "$entry"

    log "Quit ends the program cleanly; without a tray, closing the window does"
    desktop click Quit
    watched_pid=
    exits_cleanly "$corvane_pid" Quit
    ! listening || fail "the port stays open after Quit"
    down "$desktop_pid"
    start_window
    watched_pid=
    close_window
    exits_cleanly "$corvane_pid" "closing the window"
}

harness_main "$@"

#!/usr/bin/env bash
# The real program in a desktop session of its own: a session bus with a fake tray and
# notification server (fake_desktop.py), Xvfb, and corvane-touch as the phone. It checks, from
# outside the program, that the tray icon registers and its menu works, that a second corvane
# hands over to the first, that closing the window keeps the receiver serving while a tray is
# there and ends the program while none is, that a pairing brings one notification, and that
# Start at Login writes a valid autostart entry.
#
#   desktop-session.sh BUILD-FOLDER
#
# Runs in its own network and mount namespaces (exits 77 when none can be made).
set -euo pipefail

build=$(cd "$1" && pwd)
phase=${2:-outer}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
corvane="$build/src/app/corvane"
touch_tool="$build/tools/corvane-touch/corvane-touch"
desktop=(/usr/bin/python3 "$here/../support/fake_desktop.py")
port=55440
title="Corvane Companion"
log_tag=desktop-session
# shellcheck source=tests/support/harness.sh
source "$here/../support/harness.sh"

if [[ $phase == outer ]]; then
    [[ -x $corvane && -x $touch_tool ]] || fail "build corvane and corvane-touch first"
    for tool in Xvfb xdpyinfo xdotool ss ip unshare timeout dbus-run-session desktop-file-validate; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
    run_in_x_namespace desktop 30 150 "$build" namespace
fi
work=$CORVANE_TEST_WORK
if [[ $phase == namespace ]]; then
    enter_x_namespace
    dbus-run-session -- bash "$0" "$build" session
    status=$?
    stop_started
    exit $status
fi

trap stop_started EXIT
export CORVANE_INPUT=xtest CORVANE_SECRETS=file QT_QPA_PLATFORM=xcb
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"

start_desktop() {
    "${desktop[@]}" serve >>"$work/desktop.out" 2>>"$work/desktop.log" &
    desktop_pid=$!
    pids+=("$desktop_pid")
}
# events NAME VALUE: how many events the fake desktop has reported with NAME equal to VALUE.
events() {
    /usr/bin/python3 -c 'import json,sys
print(sum(json.loads(l).get(sys.argv[1]) == sys.argv[2] for l in open(sys.argv[3])))' \
        "$1" "$2" "$work/desktop.out"
}
registrations() { grep -c '"registered"' "$work/desktop.out" || true; }
registered_at_least() { (($(registrations) >= $1)); }
click() { "${desktop[@]}" click "$1"; }
menu_shows() { "${desktop[@]}" menu | grep -qxF "$1"; }
start_corvane_window() {
    "$corvane" "$@" >>"$work/corvane.log" 2>&1 &
    corvane_pid=$!
    pids+=("$corvane_pid")
    watched_pid=$corvane_pid
    wait_for 20 "a window titled \"$title\"" has_window "$title"
}
window_closed() { ! has_window "$title"; }
windows_titled() { xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | wc -l; }
listeners() { ss -ltnpH "sport = :$port" | grep -o 'pid=[0-9]*' | sort -u | wc -l; }
# Asks the window to close as a window manager does when the user clicks its close button.
close_window() {
    /usr/bin/python3 - "$(window_titled "$title")" <<'PYTHON'
import sys
from Xlib import X, display, protocol
screen = display.Display()
window = screen.create_resource_object("window", int(sys.argv[1]))
protocols = screen.intern_atom("WM_PROTOCOLS")
event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                     data=(32, [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
window.send_event(event)
screen.flush()
PYTHON
}

log "the tray appears after corvane: the icon registers once it does"
start_corvane_window
start_desktop
wait_for 10 "the tray icon's registration" registered_at_least 1
wait_for 10 "the stopped menu" menu_shows "Start Receiver|true|true|-1"
click "Start Receiver"
wait_for 10 "the receiver to listen on port $port" listening

log "a second corvane hands over; a second headless one is refused"
second=0
timeout 10 "$corvane" >"$work/second.log" 2>&1 || second=$?
((second == 0)) || fail "the second corvane exited with $second: $(cat "$work/second.log")"
status=0
timeout 10 "$corvane" --headless >"$work/second-headless.log" 2>&1 || status=$?
((status == 1)) || fail "the second headless corvane exited with $status"
grep -q "already running" "$work/second-headless.log" || fail "it said: $(cat "$work/second-headless.log")"
(($(windows_titled) == 1)) || fail "$(windows_titled) windows titled \"$title\""
(($(listeners) == 1)) || fail "$(listeners) processes listen on port $port"

log "closing the window with a tray keeps the receiver serving a phone"
close_window
wait_for 10 "the window to close" window_closed
kill -0 "$corvane_pid" || fail "corvane ended when its window closed"
listening || fail "the receiver stopped when the window closed"
code=$("${desktop[@]}" menu | sed -n 's/^Pairing code \([0-9]\{6\}\)|.*/\1/p')
[[ $code =~ ^[0-9]{6}$ ]] || fail "the tray menu shows no pairing code"
xdotool mousemove 100 100
printf 'move 30 20\n' | "$touch_tool" 127.0.0.1 "$port" --linger 1000 --code "$code" \
    --client-id 6A1F0C55-3B3E-4D8A-9C1E-0F5E2B7A9D41 >"$work/phone.out"
grep -q '"kind":"accepted"' "$work/phone.out" || fail "the phone was not accepted: $(cat "$work/phone.out")"
[[ $(xdotool getmouselocation) == "x:130 y:120 "* ]] || fail "the pointer is at $(xdotool getmouselocation)"
wait_for 10 "the pairing's notification" bash -c "grep -q 'New device paired' '$work/desktop.out'"
(($(events notify "New device paired") == 1)) || fail "$(events notify "New device paired") pairing notifications"

log "a second corvane opens the closed window; so does Show Window"
"$corvane" >>"$work/second.log" 2>&1 || fail "the third corvane failed: $(cat "$work/second.log")"
wait_for 10 "the window to come back" has_window "$title"
close_window
wait_for 10 "the window to close again" window_closed
click "Show Window"
wait_for 10 "the window to come back" has_window "$title"

log "Start at Login writes and removes the autostart entry"
click "Start at Login"
entry=$XDG_CONFIG_HOME/autostart/dev.corvane.Corvane.desktop
wait_for 10 "the autostart entry" test -f "$entry"
desktop-file-validate "$entry" || fail "the autostart entry is not valid"
grep -qx "Exec=$corvane --background" "$entry" || fail "the autostart entry runs $(grep Exec "$entry")"
wait_for 10 "Start at Login checked" menu_shows "Start at Login|true|true|1"
click "Start at Login"
wait_for 10 "the autostart entry to go" test ! -e "$entry"

log "Quit ends the program cleanly"
click Quit
watched_pid=
exits_cleanly "$corvane_pid" Quit
! listening || fail "the port stays open after Quit"

log "without a tray, closing the window ends the program"
kill -TERM "$desktop_pid"
ended 5 "$desktop_pid"
start_corvane_window
close_window
watched_pid=
exits_cleanly "$corvane_pid" "closing the window"
log "PASS"

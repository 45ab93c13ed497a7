#!/usr/bin/env bash
# Runs the real program as a user starts it, `corvane` with no arguments, under Xvfb; finds its
# window by title as a desktop would, drives it from the keyboard and saves a screenshot of each
# state into OUTPUT-FOLDER: stopped.png, running.png, forget.png and help.png.
#
#   window-screenshots.sh CORVANE OUTPUT-FOLDER
#
# It re-executes itself in its own network and mount namespaces, so port 55440 is free, nothing is
# advertised outside and the X server's socket is nobody else's; storage and the system bus point
# at a temporary folder. Each step is checked by what changes outside the program (the listening
# port, the window's size, the dot's colour, a new window), never by waiting and hoping. Exits 77
# when no namespace can be made.
set -euo pipefail

corvane=$(realpath "$1")
out=$2
phase=${3:-outer}
log_tag=window-screenshots
# shellcheck source=tests/support/harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/harness.sh"

if [[ $phase == outer ]]; then
    for tool in Xvfb xdpyinfo xdotool xwininfo import identify compare convert ss ip unshare timeout; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
    mkdir -p "$out"
    out=$(cd "$out" && pwd)
    rm -f "$out"/*.png
    run_in_x_namespace window 40 100 "$corvane" "$out" namespace
fi

port=55440
title="Corvane Companion"
help_title="Corvane Companion Help"
# Colours only one state shows: the running dot, and the destructive button of the forget
# confirmation.
running_green="#34c759"
destructive_red="#c4261d"

work=$CORVANE_TEST_WORK
trap stop_started EXIT

window_height() { xwininfo -id "$1" | awk '/Height:/ { print $2 }'; }
window_taller_than() { (($(window_height "$1") > $2)); }

# How many pixels of IMAGE are close to COLOUR.
pixels_near() {
    convert "$1" -alpha off -fuzz 6% -fill black +opaque "$2" -fill white -opaque "$2" \
        -format "%[fx:round(mean*w*h)]" info:
}

shows_colour() {
    import -window "$1" "$work/probe.png" && (($(pixels_near "$work/probe.png" "$2") > 0))
}
lacks_colour() {
    import -window "$1" "$work/probe.png" && (($(pixels_near "$work/probe.png" "$2") == 0))
}

# shoot WINDOW FILE: saves the window once two drawn frames in a row agree, so that no blank or
# half-drawn frame, and no pending layout, ends up in the picture.
shoot() {
    local id=$1 file=$2 previous="$work/previous.png" current="$work/current.png"
    rm -f "$previous"
    for _ in $(seq 50); do
        import -window "$id" "$current"
        if [[ -f $previous ]] && (($(identify -format "%k" "$current") > 16)) &&
            compare -metric AE "$previous" "$current" null: 2>/dev/null; then
            mv "$current" "$file"
            echo "$(basename "$file"): $file ($(identify -format "%wx%h" "$file"))"
            return
        fi
        mv "$current" "$previous"
        sleep 0.2
    done
    fail "the window kept changing; no stable picture for $(basename "$file")"
}

enter_x_namespace
export CORVANE_INPUT=xtest CORVANE_SECRETS=file QT_QPA_PLATFORM=xcb
without_buses

"$corvane" >"$work/corvane.log" 2>&1 &
corvane_pid=$!
pids+=("$corvane_pid")
watched_pid=$corvane_pid

# Stopped: nothing starts by itself.
wait_for 20 "a window titled \"$title\"" has_window "$title"
main=$(window_titled "$title")
shoot "$main" "$out/stopped.png"
read -r width height <<<"$(identify -format "%w %h" "$out/stopped.png")"
((width >= 440 && height >= 250)) || fail "the window is ${width}x$height, smaller than 440x250"
! listening || fail "the receiver listens before Start Receiver was pressed"
(($(pixels_near "$out/stopped.png" "$running_green") == 0)) || fail "green dot while stopped"

# Start Receiver is the first control in the keyboard's focus chain.
xdotool windowfocus --sync "$main"
xdotool key Tab space
wait_for 10 "the receiver to listen on port $port" listening
wait_for 10 "the running lines to enlarge the window" window_taller_than "$main" "$height"
wait_for 10 "the green dot" shows_colour "$main" "$running_green"
shoot "$main" "$out/running.png"

# Forget Paired Devices comes next; its confirmation opens inside the window. Escape cancels it.
xdotool key Tab space
wait_for 10 "the forget confirmation" shows_colour "$main" "$destructive_red"
shoot "$main" "$out/forget.png"
xdotool key Escape
wait_for 10 "the forget confirmation to close" lacks_colour "$main" "$destructive_red"
listening || fail "cancelling the forget confirmation stopped the receiver"

# Help is the last control; its sheet is a window of its own.
xdotool key Tab space
wait_for 10 "a window titled \"$help_title\"" has_window "$help_title"
shoot "$(window_titled "$help_title")" "$out/help.png"
help_width=$(identify -format "%w" "$out/help.png")
((help_width == 560)) || fail "the help sheet is $help_width wide, not 560"

# SIGTERM stops the receiver and ends the program cleanly.
kill -TERM "$corvane_pid"
exits_cleanly "$corvane_pid" SIGTERM
echo "corvane exited 0 after SIGTERM"

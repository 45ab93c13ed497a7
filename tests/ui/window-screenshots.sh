#!/usr/bin/env bash
# Opens the window under Xvfb in each state, finds it by title as a desktop would, and saves a
# screenshot of each: window-screenshots.sh PREVIEW-PROGRAM OUTPUT-FOLDER
set -euo pipefail

preview=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=""
preview_pid=""

cleanup() {
    if [[ -n $preview_pid ]]; then kill "$preview_pid" 2>/dev/null || true; fi
    if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export XDG_RUNTIME_DIR="$work"
export QT_QPA_PLATFORM=xcb

# shoot NAME TITLE [PREVIEW-ARGUMENTS...]
shoot() {
    local name=$1 title=$2
    shift 2
    "$preview" --quit-after 60 "$@" >"$work/$name.log" 2>&1 &
    preview_pid=$!
    # Polled rather than --sync: a window that vanishes mid-search makes xdotool fail.
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1) || true
        [[ -n $id ]] && break
        sleep 0.2
    done
    if [[ -z $id ]]; then
        echo "no window titled \"$title\" for $name" >&2
        cat "$work/$name.log" >&2
        exit 1
    fi
    # Let the first frames reach the screen.
    sleep 1
    import -window "$id" "$out/window-$name.png"
    kill "$preview_pid"
    wait "$preview_pid" 2>/dev/null || true
    preview_pid=""

    local size
    size=$(identify -format "%w %h" "$out/window-$name.png")
    echo "$name: $out/window-$name.png ($size)"
    read -r width height <<<"$size"
    if [[ $name != help ]] && ((width < 440 || height < 250)); then
        echo "$name window is smaller than 440x250" >&2
        exit 1
    fi
    if [[ $name == help ]] && ((width != 560)); then
        echo "help sheet is $width wide, not 560" >&2
        exit 1
    fi
}

shoot stopped "Corvane Companion" --untrusted
shoot running "Corvane Companion" --running
shoot help "Corvane Companion Help" --help-sheet
shoot forget "Corvane Companion" --forget-dialog

# The running window shows more lines than the stopped one.
stopped_height=$(identify -format "%h" "$out/window-stopped.png")
running_height=$(identify -format "%h" "$out/window-running.png")
if ((running_height <= stopped_height)); then
    echo "running window ($running_height) is not taller than stopped ($stopped_height)" >&2
    exit 1
fi

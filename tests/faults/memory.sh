#!/usr/bin/env bash
# shellcheck disable=SC2154 # the harness defines work, here, corvane, corvane_out, scenario
# The memory figures: resident size of `corvane --headless` idle, with one admitted phone and
# after it left, and of the window under Xvfb, on the endtoend harness's machine (harness.sh)
# with the real keyring, avahi-daemon and XTEST. Prints one "figure: value" line each, in kB.
#
#   memory.sh BUILD_DIR memory
set -euo pipefail

# shellcheck source=tests/faults/harness.sh
source "$(dirname "$0")/harness.sh"

settle_seconds=3

# VmRSS and its private anonymous part, in kB.
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
anon() { awk '/^RssAnon:/ {print $2}' "/proc/$1/status"; }
pss() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }
# Where the resident pages of a process come from: the largest mappings by file, in kB.
top_mappings() {
    python3 - "$1" <<'PY'
import collections, sys
rss, name = collections.Counter(), None
for line in open(f"/proc/{sys.argv[1]}/smaps"):
    fields = line.split()
    if "-" in fields[0] and len(fields) >= 5:
        name = fields[5] if len(fields) > 5 else "[anonymous]"
    elif fields[0] == "Rss:":
        rss[name.rsplit("/", 1)[-1]] += int(fields[1])
for name, kb in rss.most_common(8):
    print(f"    {kb:6d} kB  {name}")
PY
}
figure() { echo "$1: $2 kB" | tee -a "$work/figures.out"; }

measure_headless() {
    start_corvane
    wait_line_count "status: Ready for pairing" 1
    sleep "$settle_seconds"
    figure "headless idle VmRSS" "$(rss "$corvane_pid")"
    figure "headless idle RssAnon" "$(anon "$corvane_pid")"
    figure "headless idle Pss" "$(pss "$corvane_pid")"
    top_mappings "$corvane_pid" | tee -a "$work/figures.out"

    open_phone phone1 --code "$(current_code)" --client-id "$(new_client_id)"
    wait_line_count "status: Touch device connected" 1
    for _ in $(seq 2000); do echo "move 1 0"; done >&8
    echo "scroll 0 -30" >&8
    sleep "$settle_seconds"
    alive
    figure "headless one phone VmRSS" "$(rss "$corvane_pid")"
    figure "headless one phone RssAnon" "$(anon "$corvane_pid")"
    close_phone
    wait_line_count "status: Ready for pairing" 2
    sleep "$settle_seconds"
    figure "headless after the phone left VmRSS" "$(rss "$corvane_pid")"
    quit_corvane
}

# The window does not start the receiver by itself, so this is the window at rest.
measure_window() {
    local label=$1
    shift
    env "$@" CORVANE_INPUT=xtest CORVANE_SECRETS=secret-service QT_QPA_PLATFORM=xcb \
        "$corvane" >"$work/window.out" 2>"$work/window.log" &
    local window_pid=$!
    pids+=("$window_pid")
    sleep $((settle_seconds + 3))
    kill -0 "$window_pid" 2>/dev/null || fail "the window exited: $(tail -5 "$work/window.log")"
    figure "window $label VmRSS" "$(rss "$window_pid")"
    figure "window $label RssAnon" "$(anon "$window_pid")"
    figure "window $label Pss" "$(pss "$window_pid")"
    kill -TERM "$window_pid"
    ended 10 "$window_pid" || fail "the window ignored SIGTERM"
}

[[ $scenario == memory ]] || fail "unknown measurement $scenario"
measure_headless
measure_window "OpenGL (Mesa llvmpipe)"
measure_window "software renderer" QT_QUICK_BACKEND=software
log "PASS"

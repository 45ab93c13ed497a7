#!/usr/bin/env bash
# The file store under SIGKILL: a writer rewrites the pairing item generation after generation
# and is killed at a random moment, KILLS times; after every kill the item must decode and hold
# either the generation being written or the one before it (or still no item before the first).
# Each write deletes the temporary files of earlier killed writes (they hold old tokens), so at
# most the killed write's own one may be left at any time.
#
#   file_store_sigkill.sh BUILD_DIR KILLS
set -euo pipefail

build=$(cd "$1" && pwd)
kills=$2
writer="$build/tests/faults/corvane-fault-writer"

log_tag=faults:file-store-sigkill
# shellcheck source=tests/support/harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/harness.sh"

[[ -x $writer ]] || fail "build corvane-fault-writer first"
work=$(mktemp -d /tmp/corvane-faults-sigkill.XXXXXX)
writer_pid=
cleanup() {
    [[ -n $writer_pid ]] && kill -KILL "$writer_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
folder="$work/store"
progress="$work/progress"

held=0 # the generation the item holds; 0 while there is no item
landed_old=0
landed_new=0
idle_kills=0
most_strays=0
# Until a write gets far enough to create the folder there is nothing to count (and find fails).
strays() { if [[ -d $folder ]]; then find "$folder" -name '.pending~*' | wc -l; else echo 0; fi; }
# A kill may land before the writer's output is even redirected.
: >"$progress"
for ((kill = 1; kill <= kills; ++kill)); do
    "$writer" write "$folder" $((held + 1)) >"$progress" 2>"$work/writer.err" &
    writer_pid=$!
    # 0 to 40 ms: some kills land during start-up, most in the middle of a write.
    sleep "$(printf '0.%03d' $((RANDOM % 41)))"
    kill -KILL "$writer_pid" 2>/dev/null || true
    status=0
    # Quietly: bash would announce every job it sees killed.
    wait "$writer_pid" 2>/dev/null || status=$?
    writer_pid=
    ((status == 137)) || fail "kill $kill: the writer ended by itself ($status): $(cat "$work/writer.err")"

    announced=$(tail -n 1 "$progress")
    if [[ -z $announced ]]; then
        allowed=$held
        ((++idle_kills))
    else
        allowed="$((announced - 1)) $announced"
    fi
    # shellcheck disable=SC2086
    found=$("$writer" check "$folder" $allowed 2>"$work/check.err") ||
        fail "kill $kill (writing generation ${announced:-none}, item held $held): $(cat "$work/check.err")"
    if [[ -n $announced && $found == "$announced" ]]; then
        ((++landed_new))
    elif [[ -n $announced ]]; then
        ((++landed_old))
    fi
    held=$found

    left=$(strays)
    ((left <= 1)) || fail "kill $kill: $left temporary files piled up: $(ls -A "$folder")"
    most_strays=$((left > most_strays ? left : most_strays))
done

log "PASS: $kills kills, item intact after each: $landed_old held the previous generation," \
    "$landed_new the new one, $idle_kills came before the first write; $held generations" \
    "written; at most $most_strays temporary file left at a time, $(strays) at the end"

#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time on a copy of its seed corpus; fails on a crash.
# Usage: fuzz/run.sh <seconds per target> [build dir, default build/fuzz]
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh <seconds per target> [build dir]}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-${CORVANE_FUZZ_BUILD:-$here/../build/fuzz}}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keep=${CORVANE_FUZZ_ARTIFACTS:-/tmp/corvane-fuzz-artifacts}

mapfile -t fuzzers < <(find "$build" -type f -executable -name 'corvane-fuzz-*' | sort)
if [[ ${#fuzzers[@]} -eq 0 ]]; then
    echo "no corvane-fuzz-* targets under $build; build the fuzz preset first" >&2
    exit 1
fi

status=0
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    corpus=$work/$name/corpus
    artifacts=$work/$name/artifacts
    mkdir -p "$corpus" "$artifacts"
    if [[ -d $here/corpus/$name ]]; then
        cp -r "$here/corpus/$name/." "$corpus/"
    fi
    echo "== $name for ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$work/$name/log" 2>&1; then
        echo "!! $name failed; last lines of its log:" >&2
        tail -n 40 "$work/$name/log" >&2
        for artifact in "$artifacts"/*; do
            [[ -e $artifact ]] || continue
            mkdir -p "$keep"
            kept=$keep/$name-$(basename "$artifact")
            cp "$artifact" "$kept"
            echo "!! reproducer kept at $kept" >&2
        done
        status=1
    else
        grep -E 'stat::number_of_executed_units|Done' "$work/$name/log" | tail -n 2 || true
    fi
done
exit $status

#!/usr/bin/env bash
# Fault scenarios: what Corvane does when something it leans on fails under it.
#
#   tests/faults/run.sh SCENARIO|all [--long] [--build DIR]
#
#   secret-service-gone  the keyring daemon is killed while `corvane --headless` runs
#   keyring-locked       the keyring is locked when the receiver starts, and unlocked later
#   file-fallback-forget a session without a keyring falls back to files, and forgets everywhere
#   file-store-sigkill   the file store is SIGKILLed in the middle of writes (200 kills; 1000 --long)
#   avahi-restart        avahi-daemon restarts and the service comes back (endtoend name-collision)
#   x-display-gone       Xvfb goes away while a phone is admitted over TCP
#
# DIR defaults to $CORVANE_BUILD, else build/default. The scenarios with daemons need root for
# their namespaces; a scenario that cannot run here exits 77 (skipped).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage() {
    sed -n '3,12s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

scenario=
long=false
build=${CORVANE_BUILD:-$here/../../build/default}
while (($#)); do
    case $1 in
    --long) long=true ;;
    --build)
        (($# >= 2)) || usage
        build=$2
        shift
        ;;
    -*) usage ;;
    *)
        [[ -z $scenario ]] || usage
        scenario=$1
        ;;
    esac
    shift
done
[[ -n $scenario ]] || usage
[[ -d $build ]] || {
    echo "no build directory $build (--build DIR)" >&2
    exit 2
}

run_one() {
    case $1 in
    secret-service-gone | x-display-gone | keyring-locked | file-fallback-forget)
        bash "$here/daemons.sh" "$build" "$1"
        ;;
    file-store-sigkill) bash "$here/file_store_sigkill.sh" "$build" "$($long && echo 1000 || echo 200)" ;;
    avahi-restart) bash "$here/../integration/endtoend/endtoend.sh" "$build" name-collision ;;
    *) usage ;;
    esac
}

if [[ $scenario != all ]]; then
    run_one "$scenario"
    exit
fi

failed=()
for name in secret-service-gone keyring-locked file-fallback-forget file-store-sigkill avahi-restart \
    x-display-gone; do
    status=0
    run_one "$name" || status=$?
    case $status in
    0) echo "== $name: passed" ;;
    77) echo "== $name: skipped" ;;
    *)
        echo "== $name: FAILED ($status)"
        failed+=("$name")
        ;;
    esac
done
((${#failed[@]} == 0)) || {
    echo "failed: ${failed[*]}" >&2
    exit 1
}

#!/usr/bin/env bash
# Installs the dependencies, builds the program and starts it. Arguments go to corvane; without
# any it opens the window when a display is there, and otherwise runs headless, printing its
# state and taking commands on standard input.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh > /tmp/corvane-install.log 2>&1 || { tail -50 /tmp/corvane-install.log; exit 1; }
cmake --preset default > /dev/null
cmake --build --preset default --target corvane
if (($# == 0)) && [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    set -- --headless
fi
exec build/default/src/app/corvane "$@"

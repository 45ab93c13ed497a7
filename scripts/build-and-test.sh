#!/usr/bin/env bash
# Installs the dependencies, builds the optimised preset and runs the whole test suite.
# The integration tests start their own daemons in private namespaces, so run this as root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh > /tmp/corvane-install.log 2>&1 || { tail -50 /tmp/corvane-install.log; exit 1; }
cmake --preset default > /dev/null
cmake --build --preset default
ctest --preset default

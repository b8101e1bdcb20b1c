#!/usr/bin/env bash
# Builds Tarvo and runs its main job on the embedded default: `tarvo-cli demo` flashes a sample
# image into eight simulated handsets at 115200 baud in parallel. Installs the Debian packages
# it needs first. Extra arguments go to the demo (e.g. --json).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tarvo-cli tarvo -j "$(nproc)"
exec build/default/tools/cli/tarvo-cli demo "$@"

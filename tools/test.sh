#!/usr/bin/env bash
# Builds Tarvo and passes every test: the default build (station, tools, widget tests),
# the core under AddressSanitizer+UBSan and under ThreadSanitizer, and the fuzz targets
# for a short run. Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
for preset in default asan tsan fuzz; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  ctest --preset "${preset}" -j "${jobs}"
done

#!/usr/bin/env bash
# Installs the Debian 12 packages Tarvo builds and tests with, when any is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libgl-dev libx11-dev xvfb
  qt6-tools-dev qt6-l10n-tools qt6-multimedia-dev
  libsqlite3-dev libpq-dev postgresql
  lintian desktop-file-utils dpkg-dev file
  fonts-nanum qt6-translations-l10n
  prometheus-cpp-dev libcpp-httplib-dev
  prometheus chromium chromium-driver python3-selenium
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The tests start their own Prometheus server on loopback; the package's service would listen
# on every address, so it is kept off where the package started it.
for p in "${missing[@]}"; do
  if [ "$p" = prometheus ]; then
    if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
      $sudo systemctl disable --now prometheus >/dev/null 2>&1 || true
    elif [ -x /etc/init.d/prometheus ]; then
      $sudo /etc/init.d/prometheus stop >/dev/null 2>&1 || true
      $sudo update-rc.d prometheus disable >/dev/null 2>&1 || true
    fi
  fi
done

#!/usr/bin/env bash
# Installs the Debian 12 packages Tarvo builds and tests with, when any is missing.
#
# Another package manager may hold apt's or dpkg's lock (a fresh machine often runs its daily
# upgrade at boot): the script then waits for it, up to 10 minutes, instead of failing at once.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libgl-dev libx11-dev xvfb
  qt6-tools-dev qt6-l10n-tools qt6-multimedia-dev
  libsqlite3-dev libpq-dev libssl-dev postgresql
  lintian desktop-file-utils dpkg-dev file
  fonts-nanum qt6-translations-l10n
  libncurses-dev tmux
  prometheus-cpp-dev libcpp-httplib-dev
  prometheus chromium chromium-driver python3-selenium curl
)
lock_wait=600  # seconds

# apt-get "$@", waiting while another program holds a lock. DPkg::Lock::Timeout makes apt wait
# for dpkg's lock itself; the lists lock of "update" (and an apt too old for the option) fails
# at once, so such a failure is retried every 5 s until lock_wait has passed.
apt_get() {
  local deadline=$((SECONDS + lock_wait)) err
  err=$(mktemp)
  until $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@" 2>"$err"; do
    if grep -qiE "could not get lock|unable to acquire|another process" "$err" && ((SECONDS < deadline)); then
      echo "waiting for another package manager: $(grep -iE -m1 'lock' "$err")" >&2
      sleep 5
    else
      cat "$err" >&2
      rm -f "$err"
      return 1
    fi
  done
  cat "$err" >&2
  rm -f "$err"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
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

#!/bin/bash
# Builds the Debian package and checks what it holds: the three programs (each answering
# --version), the desktop entry and icon, the manual pages, the bash completion, the udev rule,
# dependencies from the shared libraries, and no lintian error or desktop entry error.
# Usage: check-package.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --build "$build" --target package >"$build/package-build.log" 2>&1 || {
    cat "$build/package-build.log"; echo "FAIL: the package does not build"; exit 1; }
deb=$build/tarvo_${version}_amd64.deb
[ -f "$deb" ] || { echo "FAIL: $deb was not made"; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/tarvo ./usr/bin/tarvo-cli ./usr/bin/tarvo-target-sim \
    ./usr/share/applications/tarvo.desktop ./usr/share/icons/hicolor/scalable/apps/tarvo.svg \
    ./usr/share/man/man1/tarvo.1.gz ./usr/share/man/man1/tarvo-cli.1.gz \
    ./usr/share/man/man1/tarvo-target-sim.1.gz ./usr/share/bash-completion/completions/tarvo-cli \
    ./usr/lib/udev/rules.d/60-tarvo.rules ./usr/share/doc/tarvo/copyright ./usr/share/doc/tarvo/changelog.gz; do
    grep -qxF "$path" <<<"$contents" || fail "$path is not in the package"
done

[ "$(dpkg-deb -f "$deb" Package)" = tarvo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6serialport6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for program in tarvo tarvo-cli tarvo-target-sim; do
    answer=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version 2>&1)
    [ "$answer" = "$program $version" ] || fail "$program --version said: $answer"
    file "$root/usr/bin/$program" | grep -q 'not stripped' && fail "$program is not stripped"
done
for page in tarvo tarvo-cli tarvo-target-sim; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH" || fail "$page.1.gz is no manual page"
done
bash -n "$root/usr/share/bash-completion/completions/tarvo-cli" || fail "the completion is no bash script"
rule=$root/usr/lib/udev/rules.d/60-tarvo.rules
for needle in 'ENV{ID_MM_DEVICE_IGNORE}="1"' 'GROUP="dialout"' 'ATTR{latency_timer}="1"' 0403 067b 10c4 1a86; do
    grep -qF "$needle" "$rule" || fail "the udev rule lacks $needle"
done

desktop-file-validate "$root/usr/share/applications/tarvo.desktop" || fail "desktop-file-validate"
errors=$(lintian --allow-root --fail-on error "$deb" 2>&1 | grep '^E:')
[ -z "$errors" ] || fail "lintian: $errors"

[ "$failures" -eq 0 ] && echo "package $deb: all checks passed"
exit $((failures > 0))

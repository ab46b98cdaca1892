#!/usr/bin/env bash
# Builds the two Debian packages from a build folder and checks what a
# person installing them gets: the viewer and the client in zenta, the
# simulator alone in zenta-camsim, each with its copyright file, changelog
# and manual pages, no FFmpeg library in zenta beyond the recording's, and
# nothing lintian (when installed) calls an error or a warning.
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
viewer=$(ls "$work"/zenta_*_amd64.deb 2>/dev/null | head -n 1)
sim=$(ls "$work"/zenta-camsim_*_amd64.deb 2>/dev/null | head -n 1)
[ -n "$viewer" ] && [ -n "$sim" ] || fail "two packages: $(ls "$work")"

contents() { dpkg-deb -c "$1" | awk '{print $6}'; }
for f in ./usr/bin/zenta ./usr/bin/zenta-cli ./usr/share/man/man1/zenta.1.gz \
         ./usr/share/man/man1/zenta-cli.1.gz ./usr/share/doc/zenta/copyright \
         ./usr/share/doc/zenta/changelog.gz ./usr/share/zenta/skin.bmp ./usr/bin/zenta-bridge \
         ./usr/share/man/man1/zenta-bridge.1.gz ./usr/lib/systemd/system/zenta-bridge@.service; do
  contents "$viewer" | grep -qx "$f" || fail "zenta lacks $f"
done
for f in ./usr/bin/zenta-camsim ./usr/share/man/man1/zenta-camsim.1.gz \
         ./usr/share/doc/zenta-camsim/copyright ./usr/share/doc/zenta-camsim/changelog.gz; do
  contents "$sim" | grep -qx "$f" || fail "zenta-camsim lacks $f"
done
! contents "$viewer" | grep -q zenta-camsim || fail "the simulator is in the viewer's package"
depends=$(dpkg-deb -f "$viewer" Depends)
for library in libswscale libavfilter libavdevice libswresample; do
  ! grep -q "$library" <<< "$depends" || fail "zenta depends on $library: $depends"
done
version=$(dpkg-deb -f "$viewer" Version)
[ "$(dpkg-deb -f "$sim" Version)" = "$version" ] || fail "the packages' versions differ"
dpkg-deb -f "$viewer" Maintainer | grep -qv localhost || fail "maintainer"
# Removing the package stops and disables the bridge's instances.
dpkg-deb -e "$viewer" "$work/control"
grep -q "deb-systemd-invoke stop 'zenta-bridge@\*.service'" "$work/control/prerm" ||
  fail "prerm does not stop the bridge's instances"
grep -q "deb-systemd-helper disable" "$work/control/prerm" || fail "prerm disables nothing"
# The service's sandbox, rated by systemd itself where it can.
unit=$(dirname "$0")/../../packaging/zenta-bridge@.service
if systemd-analyze security --help 2> /dev/null | grep -q -- --offline; then
  cp "$unit" "$work/zenta-bridge@test.service"
  exposure=$(systemd-analyze security --offline=yes "$work/zenta-bridge@test.service" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  [ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' ||
    fail "the bridge's service is rated ${exposure:-?} (4.0 at most)"
fi

if command -v lintian > /dev/null; then
  lintian --allow-root -I "$viewer" "$sim" > "$work/lintian.log" 2>&1
  if grep -E '^(E|W):' "$work/lintian.log"; then fail "lintian"; fi
  # Every program hardened: no hardening tag at any level.
  if grep -E 'hardening' "$work/lintian.log"; then fail "lintian: a program is not hardened"; fi
else
  echo "lintian is not installed: its checks were skipped"
fi
echo "packages: all checks passed"

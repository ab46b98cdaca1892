#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses the installed
# programs as a person would: the simulator, the client to save it as the
# remembered host, and zenta headless, connected, with a picture on screen.
# Run from a folder outside the source and build trees.
set -u
build=$1
automate=$(cd "$(dirname "$0")/../../scripts" && pwd)/automate
work=$(mktemp -d)
sim=
zenta=
cleanup() {
  [ -n "$zenta" ] && kill "$zenta" 2>/dev/null && wait "$zenta" 2>/dev/null
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log" || fail "cmake --install"
p=$work/prefix
for f in bin/zenta bin/zenta-camsim bin/zenta-cli share/zenta/skin.bmp share/zenta/skin.ini \
         share/zenta/skin24.bmp share/zenta/skin24.ini share/applications/zenta.desktop \
         share/icons/hicolor/32x32/apps/zenta.png share/zenta-camsim/camsim.conf; do
  [ -e "$p/$f" ] || fail "$f not installed"
done
[ ! -e "$p/bin/skin.bmp" ] || fail "skins beside the binaries"
# One version, the project's, from every program.
version=$(sed -n 's/^project(zenta VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
for program in zenta zenta-cli zenta-camsim; do
  [ "$("$p/bin/$program" --version)" = "$program $version" ] || fail "$program --version"
done
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$p/share/applications/zenta.desktop" || fail "desktop entry"
fi

mkdir -m 700 "$work/run" "$work/cwd"
cd "$work/cwd"  # nothing may come from the source or build tree
"$p/bin/zenta-camsim" --config "$p/share/zenta-camsim/camsim.conf" --stream-port 0 --http-port 0 \
  --event-log "$work/events" --no-picture-log > /dev/null 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q listening "$work/events" 2>/dev/null && break; sleep 0.05; done
http=$(sed -n 's/.*"http_port":\([0-9]*\).*/\1/p' "$work/events" | head -n 1)
[ -n "$http" ] || fail "the installed simulator did not start"
"$p/bin/zenta-cli" --registry="$work/registry" hosts add "127.0.0.1:$http" --guest || fail "zenta-cli"

XDG_RUNTIME_DIR=$work/run "$p/bin/zenta" --headless --automation="$work/a.sock" \
  --device-root="$work" --registry="$work/registry" 2> "$work/zenta.err" &
zenta=$!
ask() { "$automate" "$work/a.sock" "$1"; }
for _ in $(seq 200); do [ -S "$work/a.sock" ] && break; sleep 0.05; done
[ "$(ask idle)" = ok ] || fail "the installed zenta did not start"
[ ! -s "$work/zenta.err" ] || fail "zenta said: $(cat "$work/zenta.err")"
# The skin came from share/zenta: the Connect button is drawn.
[ "$(ask 'pixel 6 259')" != 000000 ] || fail "no skin on screen"
ask "tap 34 259" > /dev/null
live=0
for _ in $(seq 30); do
  a=$(ask "rect 0 46 240 88"); sleep 0.2; b=$(ask "rect 0 46 240 88")
  [ "$a" != "$b" ] && { live=1; break; }
done
[ "$live" = 1 ] || fail "no live picture"
kill "$zenta"; wait "$zenta"; code=$?; zenta=
[ "$code" -eq 0 ] || fail "zenta ended with $code on SIGTERM"
echo "installed programs: all checks passed"

#!/usr/bin/env bash
# zenta in a real window (the SDL back end) on a virtual X display: it comes
# up full screen above the menu bar with the skin, and the quit button ends
# it with code 0.
set -u
zenta=$1
skins=$(dirname "$zenta")
command -v xvfb-run > /dev/null || { echo "xvfb-run missing"; exit 1; }
work=$(mktemp -d)
mkdir -m 700 "$work/run"
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

ask() { "$(dirname "$0")/../../scripts/automate" "$work/a.sock" "$1"; }

XDG_RUNTIME_DIR=$work/run xvfb-run -a -s "-screen 0 800x800x24" "$zenta" --zoom=2 \
  --automation="$work/a.sock" --device-root="$work" --registry="$work/registry" &
pid=$!
for _ in $(seq 200); do [ -S "$work/a.sock" ] && break; sleep 0.05; done
[ -S "$work/a.sock" ] || fail "no automation socket"
[ "$(ask idle)" = ok ] || fail "idle"
[ "$(ask backend)" = sdl ] || fail "not the SDL back end: $(ask backend)"
ask windows | tr '\t' '\n' | grep -q '|CeWnd:GENERIC|ZENTA|visible|0,0,240,294$' \
  || fail "window not full screen: $(ask windows)"
# The screen shows the skin: compare a band of the button row with the bitmap.
python3 - "$skins/skin.bmp" "$(ask 'rect 0 230 240 60')" <<'PY' || fail "the screen does not show the skin"
import struct, sys
data = open(sys.argv[1], "rb").read()
offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) // 4 * 4
text = sys.argv[2]
same = total = 0
for j in range(60):
    for i in range(240):
        y = 230 + j
        at = offset + stride * (height - 1 - y) + i * 3
        b, g, r = data[at], data[at + 1], data[at + 2]
        same += text[(j * 240 + i) * 6:(j * 240 + i) * 6 + 6] == "%02x%02x%02x" % (r, g, b)
        total += 1
sys.exit(0 if same == total else 1)
PY
[ "$(ask "screenshot $work/window.png")" = ok ] || fail "screenshot"
[ "$(ask 'tap 12 307')" = ok ] || true
wait "$pid"; code=$?; pid=
[ "$code" -eq 0 ] || fail "the quit button ended zenta with code $code"
echo "zenta in a window: all checks passed"

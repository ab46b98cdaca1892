#!/usr/bin/env bash
# The bridge's page in headless chromium against the simulator: sixteen
# tiles (one refused) decoded in the page, every viewable one live with its
# own channel's picture, size and name; layouts, an enlarged tile and its
# camera (page_in_browser.py).
set -u
bridge=$1 camsim=$2
here=$(dirname "$0")
for tool in chromium chromedriver python3; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool missing (scripts/install-deps)"; exit 1; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$camsim" --stream-port 0 --http-port 0 --event-log "$work/events" --no-picture-log \
  --name 1=Gate --size 3=704x576 --guest-permissions 1111002000000000 > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$work/events" 2> /dev/null && break; sleep 0.05; done
http=$(sed -n 's/.*"http_port":\([0-9]*\).*/\1/p' "$work/events" | head -n 1)
[ -n "$http" ] || fail "the simulator did not start"
"$bridge" --registry="$work/registry" --http-port 0 --rtsp-port 0 "127.0.0.1:$http" > "$work/out" 2> /dev/null &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/out" 2> /dev/null && break; sleep 0.05; done
url=$(sed -n 's/.*serving \(http:[^ ]*\) .*/\1/p' "$work/out")
[ -n "$url" ] || fail "the bridge did not start"
for _ in $(seq 100); do
  [ "$(grep -c '"event":"pause"' "$work/events")" -ge 16 ] && break
  sleep 0.1
done
timeout 150 python3 "$here/page_in_browser.py" "$url" "$work/page.png" "$work/events" "$work/enlarged.png" ||
  fail "the page in the browser"
[ -n "${ZENTA_KEEP_SCREENSHOTS:-}" ] && cp "$work/page.png" "$work/enlarged.png" "$ZENTA_KEEP_SCREENSHOTS"/
echo "the page in a browser: all checks passed"

#!/usr/bin/env bash
# The device gallery driven through the automation channel: headless, and in
# a real window on a virtual X display where xvfb-run exists.
set -u
tool=$1
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Sends one command and prints the answer line.
ask() { "$(dirname "$0")/../../scripts/automate" "$1" "$2"; }

wait_for_socket() {
  for _ in $(seq 100); do [ -S "$1" ] && return 0; sleep 0.05; done
  return 1
}

check_gallery() {  # socket, expected back end
  local sock=$1
  wait_for_socket "$sock" || fail "no automation socket"
  [ "$(ask "$sock" backend)" = "$2" ] || fail "back end is not $2"
  [ "$(ask "$sock" idle)" = ok ] || fail "idle did not answer"
  windows=$(ask "$sock" windows)
  echo "$windows" | grep -q "|Gallery|Device gallery|visible" || fail "gallery window not listed: $windows"
  echo "$windows" | grep -q "|menu_worker|" || fail "menu bar not listed: $windows"
  # The task bar is black; the first pattern pixel is the ramp's first colour.
  [ "$(ask "$sock" "pixel 100 5")" = 000000 ] || fail "task bar pixel"
  [ "$(ask "$sock" "pixel 4 30")" = "0000ff" ] || fail "pattern pixel is $(ask "$sock" "pixel 4 30")"
  [ "$(ask "$sock" "rect 0 0 2 1")" = "000000000000" ] || fail "rect"
  [ "$(ask "$sock" "screenshot $work/shot.png")" = ok ] || fail "screenshot"
  head -c 8 "$work/shot.png" | od -An -tx1 | grep -q "89 50 4e 47" || fail "not a PNG"
  # The snapshot button opens a message box; tapping OK closes it.
  [ "$(ask "$sock" "tap 117 306")" = ok ] || fail "tap"
  box=$(ask "$sock" windows | tr '\t' '\n' | grep "|MessageBox|Gallery|visible|") || fail "no message box after the tap"
  IFS=, read -r l t r b <<< "${box##*|}"
  [ "$(ask "$sock" "tap $(( (l + r) / 2 )) $(( b - 15 ))")" = ok ] || fail "tap OK"
  ask "$sock" windows | grep -q "|MessageBox|" && fail "message box still open"
  # The hosts button opens the dialog; typing goes to its first field, Escape ends it.
  [ "$(ask "$sock" "tap 91 306")" = ok ] || fail "tap hosts"
  ask "$sock" windows | grep -q "|Dialog|Select Host|visible|" || fail "no dialog after the hosts tap"
  ask "$sock" active | grep -q "|Select Host$" || fail "the dialog is not active"
  [ "$(ask "$sock" "type x")" = ok ] || fail "type"
  [ "$(ask "$sock" "key 27")" = ok ] || fail "escape"
  ask "$sock" windows | grep -q "|Dialog|" && fail "dialog still open after Escape"
  # A second program finds this one's window and brings it to the front.
  [ "$(ask "$sock" "tap 117 306")" = ok ] || fail "tap"
  ask "$sock" active | grep -q "|Gallery$" || fail "the message box is not active"
  out=$("$tool" --headless --single-instance)
  [ $? -eq 3 ] || fail "the second program did not find the first: $out"
  echo "$out" | grep -q "brought to the front" || fail "not brought to the front: $out"
  [ "$(ask "$sock" idle)" = ok ] || fail "idle"
  ask "$sock" active | grep -q "|Device gallery$" || fail "the gallery did not come to the front: $(ask "$sock" active)"
  box=$(ask "$sock" windows | tr '\t' '\n' | grep "|MessageBox|Gallery|visible|") || fail "no message box"
  IFS=, read -r l t r b <<< "${box##*|}"
  [ "$(ask "$sock" "tap $(( (l + r) / 2 )) $(( b - 15 ))")" = ok ] || fail "tap OK"
  # The quit button ends the program.
  [ "$(ask "$sock" "tap 10 306")" = ok ] || true
}

"$tool" --headless --automation="$work/a.sock" & pids+=($!)
check_gallery "$work/a.sock" headless
for _ in $(seq 100); do kill -0 "${pids[0]}" 2>/dev/null || break; sleep 0.05; done
kill -0 "${pids[0]}" 2>/dev/null && fail "quit button did not end the program"
wait "${pids[0]}" || fail "the headless gallery did not end cleanly"

if command -v xvfb-run > /dev/null; then
  xvfb-run -a -s "-screen 0 800x600x24" "$tool" --zoom=1 --automation="$work/b.sock" & pids+=($!)
  check_gallery "$work/b.sock" sdl
  wait "${pids[1]}" || fail "the windowed gallery did not end cleanly"
fi

"$tool" --screen=10x10 > /dev/null 2>&1
[ $? -eq 2 ] || fail "bad screen size must exit with 2"
"$tool" --headless --screenshot "$work/direct.png" || fail "--screenshot failed"
[ -s "$work/direct.png" ] || fail "no screenshot file"
"$tool" --headless --screenshot "$work/dialog.png" --dialog || fail "--screenshot --dialog failed"
[ -s "$work/dialog.png" ] || fail "no dialog screenshot file"
echo "device-gallery: all checks passed"

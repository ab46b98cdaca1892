#!/usr/bin/env bash
# zenta as a desktop user meets it: a virtual X display with a window
# manager, real X input (xdotool), X screenshots, and the simulator's event
# log as the witness. The window is resized, made full screen and back,
# every key and the wheel and a double click do their commands, a host is
# pasted into "Select Host", Escape cancels it, the size is kept for the
# next run, and losing the display ends the viewer as SIGTERM does.
set -u
zenta=$1 camsim=$2 cli=$3
automate="$(dirname "$0")/../../scripts/automate"
for tool in Xvfb openbox xdotool wmctrl xprop convert xclip; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool missing (scripts/install-deps)"; exit 1; }
done
work=$(mktemp -d)
mkdir -m 700 "$work/run"
pids=()
zpid=
cleanup() {
  [ -n "$zpid" ] && kill "$zpid" 2> /dev/null
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2> /dev/null; done
  wait 2> /dev/null
  [ -n "${KEEP:-}" ] && cp -r "$work" /tmp/d/kept; rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/zenta.err" ] && sed 's/^/zenta: /' "$work/zenta.err"
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local n=$1
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# A display of its own, with a window manager (full screen and focus are
# asked of it, as on a desktop).
Xvfb -displayfd 5 -screen 0 1600x1200x24 -nolisten tcp 5> "$work/display" 2> /dev/null &
xvfb=$!
pids+=("$xvfb")
within 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox > /dev/null 2>&1 &
pids+=($!)
within 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
  fail "the window manager did not start"

"$camsim" --stream-port 0 --http-port 0 --event-log "$work/events" --no-picture-log \
  --guest-permissions 1111002000000000 > /dev/null 2>&1 &
pids+=($!)
within 100 grep -q listening "$work/events" 2> /dev/null || fail "the simulator did not start"
http=$(sed -n 's/.*"http_port":\([0-9]*\).*/\1/p' "$work/events" | head -n 1)
"$cli" --registry="$work/registry" hosts add "127.0.0.1:$http" --guest > /dev/null ||
  fail "could not save the host"

start_zenta() {
  XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run" "$zenta" \
    --automation="$work/a.sock" --device-root="$work" --registry="$work/registry" \
    2> "$work/zenta.err" &
  zpid=$!
  win=
  within 100 sh -c "xdotool search --class zenta > '$work/win'" || fail "no window"
  win=$(head -n 1 "$work/win")
  xdotool windowactivate --sync "$win" 2> /dev/null
  within 50 sh -c "[ \"\$(xdotool getactivewindow)\" = $win ]" || fail "the window has no focus"
}
geometry() {  # WIDTH HEIGHT X Y of the window's inside, on the screen
  xwininfo -id "$win" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
    /^  Width/ {w = $NF} /^  Height/ {h = $NF} END {print w, h, x, y}'
}
events() { grep -c "\"event\":\"$1\".*\"channel\":$2[,}]" "$work/events"; }
more_events() {  # EVENT CHANNEL COUNT_BEFORE: waits for one more
  within 50 sh -c "[ \$(grep -c '\"event\":\"$1\".*\"channel\":$2[,}]' '$work/events') -gt $3 ]"
}
key() { xdotool key --clearmodifiers "$@"; }
dialog_open() { "$automate" "$work/a.sock" windows | grep -q 'Select Host'; }
# H opens "Select Host"; the keys after it go to the dialog; it must close.
in_select_host() {
  key h
  within 50 dialog_open || fail "H opened no dialog"
  key "$@"
  within 50 sh -c "! '$automate' '$work/a.sock' windows | grep -q 'Select Host'" ||
    fail "the dialog stayed after $*"
}
# Mean colour (three numbers 0..255) of a part of a PNG file.
mean() {
  convert "$1" -crop "$2" +repage -resize '1x1!' -depth 8 \
    -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:
}
near() {  # two "r g b" triples within 24 in every channel
  local a b
  read -ra a <<< "$1"
  read -ra b <<< "$2"
  for i in 0 1 2; do
    local d=$((a[i] - b[i]))
    [ "${d#-}" -le 24 ] || return 1
  done
}

start_zenta
read -r w0 h0 _ <<< "$(geometry)"

# A second start, while the first is minimised: it says so and ends, and the
# first comes back to the front.
xdotool windowminimize --sync "$win"
XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run" "$zenta" --device-root="$work" \
  --registry="$work/registry" 2> "$work/second.err"
[ $? = 1 ] || fail "a second copy did not end with 1"
grep -q "zenta is already running" "$work/second.err" || fail "a second copy said nothing"
within 50 sh -c "[ \"\$(xdotool getactivewindow)\" = $win ]" || fail "the first copy did not come back"
[ "$w0" = 720 ] && [ "$h0" = 960 ] || fail "the default size is not zoom 3: ${w0}x$h0"

# Connect with C: all sixteen channels answer.
key c
within 150 sh -c "[ \$(grep -c '\"event\":\"info\"' '$work/events') -ge 16 ]" || fail "C did not connect"
# The title tells what the window shows.
title() { xprop -id "$win" _NET_WM_NAME; }
within 50 sh -c "xprop -id '$win' _NET_WM_NAME | grep -q '= \"Camera 1 — ZENTA Simulator — ZENTA\"$'" ||
  fail "the title is $(title)"

# Resized to a shape unlike the screen's: the screen keeps its shape, centred
# between black bars, the same as the device shows it.
xdotool windowsize "$win" 1000 700
within 50 sh -c "xdotool getwindowgeometry '$win' | grep -q 'Geometry: 1000x700'" || fail "no resize"
sleep 0.5
read -r _ _ wx wy <<< "$(geometry)"
import -window root "$work/x.png"
"$automate" "$work/a.sock" "screenshot $work/device.png" > /dev/null
# 700 pixels high: the 240 x 320 screen is 525 wide, from 237.
near "$(mean "$work/x.png" "200x700+$wx+$wy")" "0 0 0" || fail "no bar left of the screen"
near "$(mean "$work/x.png" "200x700+$((wx + 800))+$wy")" "0 0 0" || fail "no bar on the right"
for part in "0 232 60 50" "60 232 60 50" "120 232 60 50" "180 232 60 50" "0 0 240 22"; do
  read -r px py pw ph <<< "$part"
  shown="$((pw * 525 / 240))x$((ph * 700 / 320))+$((wx + 237 + px * 525 / 240))+$((wy + py * 700 / 320))"
  near "$(mean "$work/x.png" "$shown")" "$(mean "$work/device.png" "${pw}x$ph+$px+$py")" ||
    fail "the window does not show the device's $part scaled: $(mean "$work/x.png" "$shown")"
done

# F11: the whole desktop, and back to the size before.
key F11
within 50 sh -c "xdotool getwindowgeometry '$win' | grep -q 'Geometry: 1600x1200'" || fail "F11"
key F11
within 50 sh -c "xdotool getwindowgeometry '$win' | grep -q 'Geometry: 1000x700'" || fail "F11 back"
sleep 0.3

# 4: four pictures; Page Down: the next page; the wheel away: back.
r2=$(events resume 2)
key 4
more_events resume 2 "$r2" || fail "4 did not show four pictures"
r5=$(events resume 5)
key Next
more_events resume 5 "$r5" || fail "Page Down did not show the next page"
r1=$(events resume 1)
xdotool mousemove --window "$win" 500 350 click 4
more_events resume 1 "$r1" || fail "the wheel did not step back"

# A double click on the second quadrant: channel 2 alone, 1, 3 and 4 paused.
p1=$(events pause 1) p3=$(events pause 3)
xdotool mousemove --window "$win" $((237 + 180 * 525 / 240)) $((90 * 700 / 320)) click --repeat 2 --delay 60 1
more_events pause 1 "$p1" && more_events pause 3 "$p3" || fail "a double click did not show one"

# P and the arrows steer channel 2's camera; S saves a snapshot.
c2=$(events command 2)
key p
sleep 0.3
key Left
more_events command 2 "$c2" || fail "Left in PTZ mode sent nothing"
grep '"event":"command"' "$work/events" | tail -n 1 | grep -q '"word":"left"' || fail "not left"
# Space stops every movement: pan and tilt, and the zoom.
c2=$(events command 2)
key space
within 30 sh -c "[ \$(grep '\"event\":\"command\"' '$work/events' | grep -c '\"word\":\"zoomstop\"') -ge 1 ]" ||
  fail "Space did not stop the zoom"
grep '"event":"command"' "$work/events" | tail -n 2 | grep -q '"word":"stop"' || fail "Space did not stop"
key p s
within 50 sh -c "ls '$work/WebCAM/'*.jpg" > /dev/null 2>&1 || fail "S saved no snapshot"

# A mouse resting on a menu-bar icon shows its name; moved off, it goes.
tip() { "$automate" "$work/a.sock" windows | grep -q '|menu_tip|Quit|visible'; }
xdotool mousemove --window "$win" $((237 + 10 * 525 / 240)) $((307 * 700 / 320))
within 30 tip || fail "no name over the Quit icon"
xdotool mousemove --window "$win" 500 300
within 30 sh -c "! '$automate' '$work/a.sock' windows | grep -q '|menu_tip|Quit|visible'" ||
  fail "the name stayed when the mouse moved off"

# "Select Host": a host pasted with Ctrl+A, Ctrl+V is saved with Enter; what
# is typed before Escape is not.
printf '127.0.0.2:9' | xclip -selection clipboard 2> /dev/null
in_select_host ctrl+a ctrl+v Return
within 50 sh -c "'$cli' --registry='$work/registry' hosts list | grep -q '127.0.0.2:9'" ||
  fail "the pasted host was not saved"
in_select_host z z z Escape
"$cli" --registry="$work/registry" hosts list | grep -q zzz && fail "Escape saved the host"

# Q quits: every channel closed, code 0, and the size kept.
d=$(grep -c '"event":"disconnect"' "$work/events")
key q
wait "$zpid"
code=$?
zpid=
[ "$code" = 0 ] || fail "Q ended zenta with $code"
within 30 sh -c "[ \$(grep -c '\"event\":\"disconnect\"' '$work/events') -ge $((d + 16)) ]" ||
  fail "Q left channels open"
start_zenta
read -r w1 h1 x1 y1 <<< "$(geometry)"
[ "$w1" = 1000 ] && [ "$h1" = 700 ] || fail "the size was not kept: ${w1}x$h1"
[ "$x1" = "$wx" ] && [ "$y1" = "$wy" ] || fail "the window moved from $wx,$wy to $x1,$y1"

# Maximised, F11 and back: maximised still.
wmctrl -i -r "$win" -b add,maximized_vert,maximized_horz
within 50 sh -c "xprop -id '$win' _NET_WM_STATE | grep -q MAXIMIZED_HORZ" || fail "no maximise"
key F11
within 50 sh -c "xprop -id '$win' _NET_WM_STATE | grep -q FULLSCREEN" || fail "F11 when maximised"
key F11
within 50 sh -c "xprop -id '$win' _NET_WM_STATE | grep -v FULLSCREEN | grep -q MAXIMIZED_HORZ" ||
  fail "leaving full screen lost the maximised state"

# The window's close box with "Select Host" open: the program ends, code 0.
key h
within 50 dialog_open || fail "H opened no dialog"
wmctrl -i -c "$win"
within 100 sh -c "! kill -0 $zpid 2> /dev/null" || fail "closing the window left zenta running"
wait "$zpid"
code=$?
zpid=
[ "$code" = 0 ] || fail "closing the window over a dialog ended zenta with $code"

# A place kept on a screen since unplugged: the window comes up on this one.
echo "2600 1400 1000 700 0" > "$work/state/zenta/window-240x320"
start_zenta
read -r w1 h1 x1 y1 <<< "$(geometry)"
[ "$x1" -ge 0 ] && [ "$y1" -ge 0 ] && [ $((x1 + w1)) -le 1600 ] && [ $((y1 + h1)) -le 1200 ] ||
  fail "the window came up off the screen: ${w1}x$h1 at $x1,$y1"

# The display goes away: the viewer resumes and closes its channels and
# ends with 0, as on SIGTERM. (The simulator first, pasted back.)
printf '%s' "127.0.0.1:$http" | xclip -selection clipboard 2> /dev/null
in_select_host ctrl+a ctrl+v Return
key c
within 150 sh -c "[ \$(grep -c '\"event\":\"info\"' '$work/events') -ge 32 ]" || fail "no reconnect"
d=$(grep -c '"event":"disconnect"' "$work/events")
kill "$xvfb"
within 100 sh -c "! kill -0 $zpid 2> /dev/null" || fail "zenta outlived its display"
wait "$zpid"
code=$?
zpid=
[ "$code" = 0 ] || fail "zenta ended with $code when the display went away"
within 30 sh -c "[ \$(grep -c '\"event\":\"disconnect\"' '$work/events') -ge $((d + 16)) ]" ||
  fail "channels left open when the display went away"
echo "zenta on a desktop: all checks passed"

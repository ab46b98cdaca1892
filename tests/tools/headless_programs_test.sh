#!/bin/sh
# The programs without a screen link nothing of the window system: no
# FreeType, no SDL, and none of the device layer's windows or drawing.
# Usage: headless_programs_test.sh PROGRAM...
status=0
for program in "$@"; do
  name=$(basename "$program")
  libraries=$(readelf -d "$program" | grep NEEDED | grep -iE 'freetype|SDL2|X11|wayland')
  if [ -n "$libraries" ]; then
    echo "$name links $libraries"
    status=1
  fi
  symbols=$(nm -C "$program" | grep -E ' (CreateWindowExW|BitBlt|DefWindowProcW|GetDC|DrawTextW)$')
  if [ -n "$symbols" ]; then
    echo "$name holds the window system: $symbols"
    status=1
  fi
done
[ $status = 0 ] && echo "headless programs: $# checked, none links the window system"
exit $status

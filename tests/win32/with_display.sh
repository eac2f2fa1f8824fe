#!/bin/sh
# Runs a Windows program under wine on a display of its own: a wine prefix made for it, on an
# Xvfb screen. Wine makes no window without a display, and a wine server already started
# without one (as test-windows starts it) would refuse every window.
# Usage: with_display.sh PROGRAM.exe [ARGUMENT...]
set -eu
work=$(mktemp -d)
display=:$((50 + $$ % 40))
cleanup() {
  WINEPREFIX=$work/wine wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home WINEPREFIX=$work/wine WINEDEBUG=-all DISPLAY=$display
mkdir -p "$HOME"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wineboot -i >/dev/null 2>&1
wine "$@"

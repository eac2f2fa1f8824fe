#!/bin/sh
# Runs a Windows program under wine on a display of its own: a wine prefix made for it, on an
# Xvfb screen. Wine makes no window without a display, and a wine server already started
# without one (as test-windows starts it) would refuse every window.
# Usage: with_display.sh PROGRAM.exe [ARGUMENT...]
set -eu
. "$(dirname "$0")/wine_prefix.sh"
start_display
wineboot -i >/dev/null 2>&1
# wineboot returns before it has written the prefix; under load its late writes (the default
# locale's date formats among them) would land while the program runs.
wineserver -w
wine "$@"

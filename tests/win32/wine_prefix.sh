# Sourced by the tests that run a Windows program under wine on a screen of their own: a work
# folder, a wine prefix and HOME in it, a display number of this process, and the cleanup that
# stops the prefix's wine server and the Xvfb the test starts (as $xvfb).
work=$(mktemp -d)
display=:$((50 + $$ % 40))
cleanup() {
  WINEPREFIX=$work/wine wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
export HOME=$work/home WINEPREFIX=$work/wine WINEDEBUG=-all DISPLAY=$display
mkdir -p "$HOME"

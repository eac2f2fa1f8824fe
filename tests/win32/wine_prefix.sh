# Sourced by the tests that run a Windows program under wine on a screen of their own: a work
# folder, a wine prefix and HOME in it, a screen of their own (start_display), and the cleanup
# that stops the prefix's wine server and that screen's Xvfb.
work=$(mktemp -d)
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
export HOME=$work/home WINEPREFIX=$work/wine WINEDEBUG=-all
unset DISPLAY
# Starts Xvfb on a display number it finds free itself (a number made from our process id was
# taken by another test running at the same time) and waits until it takes clients.
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  i=0
  until [ "$(wc -l <"$work/display")" -ge 1 ]; do
    kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start"
    i=$((i + 1))
    [ $i -le 300 ] || fail "Xvfb took no display in 30 s"
    sleep 0.1
  done
  DISPLAY=:$(head -1 "$work/display")
  export DISPLAY
}
mkdir -p "$HOME"

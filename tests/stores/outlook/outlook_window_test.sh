#!/bin/sh
# dialmend.exe over the stand-in Outlook (fake_outlook_server.exe, registered as
# "Outlook.Application" in a wine prefix of its own and started by COM, set up as
# DIALMEND_FAKE_OUTLOOK says), under Xvfb and wine, driven with xdotool.
# An Outlook that stays busy, and one that takes a call and never answers, is said in the caption
# ("Dialmend - Waiting for Outlook ...") while the window keeps answering: Esc asks the abort
# question, and Yes ends the wait at once. An Outlook that closes mid-run ends the run as an
# abort with its log saved.
# Usage: outlook_window_test.sh DIALMEND_EXE FAKE_OUTLOOK_SERVER_EXE
set -eu
exe=$1
server_exe=$2

. "$(dirname "$0")/../../win32/wine_prefix.sh"

# The prefix is made whole first: COM's service, started while wineboot's are still starting,
# does not start ("Service database locked") and the first call into Outlook never returns.
DISPLAY='' wineboot -i >/dev/null 2>&1
wineserver -w
start_display
wine "$server_exe" /regserver Outlook.Application >/dev/null 2>&1 ||
  fail "fake_outlook_server.exe /regserver failed"
started=$(wine net start rpcss 2>&1 || true)
case $started in
  *"started successfully"* | *"already running"*) ;;
  *) fail "COM's service (rpcss) does not start: $started" ;;
esac
user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public | head -1)
desktop=$user/Desktop

# Waits up to $2 tenths of a second for condition $1 (a shell command); fails saying $3.
wait_for() {
  i=0
  until eval "$1"; do
    i=$((i + 1))
    [ $i -le "$2" ] || fail "$3"
    sleep 0.1
  done
}
name() { xdotool getwindowname "$main" 2>/dev/null || true; }
# The abort question: a second visible window named Dialmend.
question() {
  xdotool search --onlyvisible --name '^Dialmend$' 2>/dev/null | grep -v "^$main\$" | head -1 ||
    true
}
log_file() { find -L "$desktop" -maxdepth 1 -name 'Dialmend Log *.txt' | head -1; }

# The stand-in Outlook's processes in this test's prefix.
servers() {
  for pid in $(pgrep -f fake_outlook_server); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  true
}

# One simulation over a stand-in Outlook set up as FakeServerSetup says: BUSY_AFTER BUSY_MS
# RETRY_LATER EXIT_AT HANG_AT.
start() {
  DIALMEND_FAKE_OUTLOOK="contract $*" wine "$exe" >>"$work/out.txt" 2>&1 &
  program=$!
  main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Dialmend$' 2>/dev/null | head -1)
  [ -n "$main" ] || fail "no window named Dialmend; dialmend.exe printed: $(tail -5 "$work/out.txt")"
  xdotool key --window "$main" Return
}
# Quits the program, and ends a stand-in Outlook left hanging.
finish() {
  xdotool key --window "$main" Escape
  wait_for '! kill -0 "$program" 2>/dev/null' 300 "dialmend.exe did not end"
  for pid in $(servers); do kill "$pid"; done
  rm -f "$(log_file)"
}
# While the run waits for Outlook: the caption says so, Esc asks, Yes ends the run within 10 s.
abort_wait() {
  wait_for 'case $(name) in "Dialmend - Waiting for Outlook"*) true ;; *) false ;; esac' 300 \
    "$1: the caption never said the run waits for Outlook: \"$(name)\""
  xdotool key --window "$main" Escape
  wait_for '[ -n "$(question)" ]' 100 "$1: Esc during the wait asked nothing"
  xdotool key --window "$(question)" y
  wait_for '[ "$(name)" = "Dialmend - Finished!" ]' 100 "$1: Yes did not end the wait: \"$(name)\""
  grep -q "Simulation aborted" "$(log_file)" || fail "$1: the log does not say the run was aborted"
}

# Busy from its sixth call on, for two minutes: longer than the 30 s a busy Outlook is waited for.
start 6 120000 0 0 0
abort_wait "busy"
finish

# Closes while taking its eighth call.
start -1 0 0 8 0
wait_for '[ "$(name)" = "Dialmend - Finished!" ]' 300 "closing: the run did not end: \"$(name)\""
log=$(log_file)
grep -q "Outlook has closed" "$log" && grep -q "Simulation aborted" "$log" ||
  fail "closing: the log does not end the run with Outlook closing: $(tail -5 "$log")"
[ -z "$(question)" ] || fail "closing: a message box is open"
finish

# Never answers its eighth call.
start -1 0 0 0 8
abort_wait "not answering"
finish
echo "outlook window test passed"

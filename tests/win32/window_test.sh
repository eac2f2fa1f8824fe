#!/bin/sh
# dialmend.exe under Xvfb and wine, driven as a user would with xdotool: the window "Dialmend"
# appears, Alt+A and Alt+I open About and International Options, Enter simulates the sample profile, the caption becomes "Dialmend - Finished!", the
# log file is saved and Esc quits; then on a larger copy of the profile, Esc and Yes abort a
# running update, which still ends with its summary and log saved, and Alt+N and Yes undo it.
# The logs' dates follow the locale each run has: UK first, then US.
# Usage: window_test.sh DIALMEND_EXE SAMPLE_PROFILE [SCREENSHOT_FOLDER]
set -eu
exe=$1
sample=$2
shots=${3:-}

. "$(dirname "$0")/wine_prefix.sh"
[ -n "${KEEP:-}" ] && trap - EXIT

# The prefix is our own: its Desktop (where the log goes) is a folder of this test.
start_display
wineboot -i >/dev/null 2>&1
# wineboot returns before it has written the prefix; under load its late writes (the default
# locale's date formats among them) would land while the program runs.
wineserver -w
user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public | head -1)
desktop=$user/Desktop
[ -d "$desktop" ] || fail "the wine prefix has no Desktop folder"

cp -r "$sample" "$work/profile"
profile=$(winepath -w "$work/profile")

# Waits up to 30 s for a visible window whose name matches $1; prints its id.
window() {
  timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1
}
# Waits up to 60 s for window $1 to be named $2.
wait_name() {
  i=0
  while [ "$(xdotool getwindowname "$1" 2>/dev/null)" != "$2" ]; do
    i=$((i + 1))
    [ $i -le 600 ] || fail "the window is named \"$(xdotool getwindowname "$1")\", not \"$2\""
    sleep 0.1
  done
}
# Waits up to 30 s for process $1 to end.
wait_end() {
  i=0
  while kill -0 "$1" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le 300 ] || fail "dialmend.exe did not end"
    sleep 0.1
  done
}
# Fails unless log $1 has $2 followed by today's date in date(1)'s format $3 (or tomorrow's, at
# midnight).
dated() {
  grep -qF "$2$(date +"$3")" "$1" || grep -qF "$2$(date -d tomorrow +"$3")" "$1" ||
    fail "the log does not date \"$2\" as $(date +"$3"): $(grep -F "$2" "$1")"
}
# Saves picture $1 of window $2 as it is on the screen now, or of the screen's area $2 (WxH+X+Y).
shot() {
  [ -n "$shots" ] || return 0
  # A window just shown may not have painted yet.
  sleep 0.5
  area=$2
  case $area in
    *x*+*) ;;
    *)
      eval "$(xdotool getwindowgeometry --shell "$area")"
      area=${WIDTH}x${HEIGHT}+${X}+${Y}
      ;;
  esac
  import -window root -crop "$area" "$shots/$1" 2>/dev/null && convert "$shots/$1" +repage "$shots/$1"
}

# Dates in the user's format: day first under a UK locale, month first under a US one.
LC_ALL=en_GB.UTF-8 wine "$exe" --profile "$profile" >"$work/out.txt" 2>&1 &
program=$!
main=$(window '^Dialmend$')
[ -n "$main" ] || fail "no window named Dialmend"
shot windows-idle.png "$main"
# The access keys open About and International Options; Esc and Enter close them.
xdotool key --window "$main" alt+a
about=$(window '^About Dialmend$')
[ -n "$about" ] || fail "Alt+A opened no About box"
shot windows-about.png "$about"
xdotool key --window "$about" Escape
xdotool key --window "$main" alt+i
options=$(window '^International Options$')
[ -n "$options" ] || fail "Alt+I opened no International Options"
shot windows-options.png "$options"
xdotool key --window "$options" Return
sleep 0.5
xdotool key --window "$main" Return
wait_name "$main" "Dialmend - Finished!"
shot windows-finished.png "$main"
log=$(find -L "$desktop" -maxdepth 1 -name 'Dialmend Log *.txt' | head -1)
[ -n "$log" ] || fail "no log file on the Desktop"
grep -q "Simulation complete" "$log" || fail "the log does not end the simulation: $(cat "$log")"
grep -q "Contacts checked: 58" "$log" || fail "the log does not count the sample: $(cat "$log")"
dated "$log" "Simulation complete - " %d/%m/%Y
xdotool key --window "$main" Escape
wait_end "$program"
rm -f "$log"

# An abort: enough cards that the update is still running when Esc is pressed.
for i in $(seq 1 150); do cp -r "$sample/work" "$work/profile/copy$i"; done
LC_ALL=en_US.UTF-8 wine "$exe" --profile "$profile" >>"$work/out.txt" 2>&1 &
program=$!
main=$(window '^Dialmend$')
xdotool key --window "$main" alt+u Return
# Esc once some hundreds of contacts are in (the title counts them), so cards have been saved
# and the aborted update has something to undo, however slow the machine.
i=0
until xdotool getwindowname "$main" 2>/dev/null |
  grep -Eq '^Dialmend - ([5-9][0-9][0-9]|[0-9],[0-9]{3}) of'; do
  i=$((i + 1))
  [ $i -le 600 ] || fail "the update never got past 500 contacts: $(xdotool getwindowname "$main")"
  sleep 0.1
done
xdotool key --window "$main" Escape
# The question is a second window named Dialmend.
i=0
question=
while [ -z "$question" ]; do
  i=$((i + 1))
  [ $i -le 300 ] || fail "Esc during the run asked nothing"
  sleep 0.1
  question=$(xdotool search --onlyvisible --name '^Dialmend$' 2>/dev/null | grep -v "^$main\$" |
    head -1 || true)
done
shot windows-abort-question.png 720x480+0+0
xdotool key --window "$question" y
wait_name "$main" "Dialmend - Finished!"
log=$(find -L "$desktop" -maxdepth 1 -name 'Dialmend Log *.txt' | head -1)
grep -q "Update aborted" "$log" || fail "the log does not say the update was aborted: $(tail -20 "$log")"
rm -f "$log"
# The aborted update is offered for undo; it asks first, and its log is saved as a run's.
xdotool key --window "$main" alt+n
i=0
question=
while [ -z "$question" ]; do
  i=$((i + 1))
  [ $i -le 300 ] || fail "Alt+N asked nothing"
  sleep 0.1
  question=$(xdotool search --onlyvisible --name '^Dialmend$' 2>/dev/null | grep -v "^$main\$" |
    head -1 || true)
done
shot windows-undo-question.png 720x480+0+0
xdotool key --window "$question" y
i=0
until log=$(find -L "$desktop" -maxdepth 1 -name 'Dialmend Log *.txt' | head -1) &&
  [ -n "$log" ] && grep -q "Undo complete" "$log"; do
  i=$((i + 1))
  [ $i -le 600 ] || fail "the undo saved no log that ends it"
  sleep 0.1
done
wait_name "$main" "Dialmend - Finished!"
dated "$log" "Undo of the update of " %-m/%-d/%Y
dated "$log" "Undo complete - " %-m/%-d/%Y
shot windows-undone.png "$main"
xdotool key --window "$main" Escape
wait_end "$program"
echo "window test passed"

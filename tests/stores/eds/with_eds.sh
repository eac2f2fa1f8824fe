#!/bin/sh
# Runs a test program on a session bus of its own, in a home folder of its own, where D-Bus starts
# EDS's source registry and address-book factory as the program asks for them; whatever the bus
# started is ended with it, and the folder removed. Exits 77 (a skip) when EDS is not installed,
# except in CI, which installs it.
for program in dbus-run-session dbus-send /usr/libexec/evolution-source-registry \
  /usr/libexec/evolution-addressbook-factory; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$program is not installed (scripts/install-deps installs evolution-data-server)" >&2
    [ -n "${CI:-}" ] && exit 1
    exit 77
  fi
done
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir -m 700 "$dir/run" && mkdir "$dir/tmp" || exit 1
HOME="$dir" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" \
  XDG_CACHE_HOME="$dir/cache" TMPDIR="$dir/tmp" TEST_TMPDIR="$dir/tmp" GSETTINGS_BACKEND=memory \
  dbus-run-session -- sh -c '
    "$@"
    status=$?
    # The processes behind the bus names, to wait for once the bus has gone.
    bus="--session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus"
    for name in $(dbus-send $bus.ListNames | sed -n "s/.*string \"\(:[^\"]*\)\"/\1/p"); do
      dbus-send $bus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
        sed -n "s/.*uint32 //p"
    done >"$HOME/bus-pids"
    exit $status' sh "$@"
status=$?
# They end when the bus goes; a few seconds for their last writes, then they are ended here.
for pid in $(cat "$dir/bus-pids" 2>/dev/null); do
  tries=0
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
  kill "$pid" 2>/dev/null
done
exit $status

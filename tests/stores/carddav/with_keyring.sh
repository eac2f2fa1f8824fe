#!/bin/sh
# Runs a test program with a session bus and an unlocked GNOME keyring of its own, in a home
# folder of its own, so the desktop's secret store is tested without touching the user's.
# Exits 77 (a skip) when the tools are missing, except in CI, which installs them.
for tool in dbus-run-session gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed (scripts/install-deps installs it)" >&2
    [ -n "${CI:-}" ] && exit 1
    exit 77
  fi
done
dir=$(mktemp -d) || exit 1
mkdir -m 700 "$dir/run"
HOME="$dir" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" \
  DIALMEND_TEST_KEYRING=1 dbus-run-session -- sh -c \
  'eval "$(printf test-keyring | gnome-keyring-daemon --unlock --components=secrets)" && "$@"' \
  sh "$@"
status=$?
rm -rf "$dir"
exit $status

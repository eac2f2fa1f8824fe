#!/bin/sh
# Runs a test program on a session bus of its own with a stand-in for KDE's "Personal Contacts"
# resource (akonadi_contacts_resource_0) on it:
#   with_fake_akonadi.sh FOLDER PYTHON FAKE PROGRAM [ARGS...]
# The stand-in writes each call it gets to FOLDER/calls, which the program finds in
# FAKE_AKONADI_CALLS. FOLDER is removed afterwards. Exits 77 (a skip) when dbus-run-session is
# missing, except in CI, which installs it.
if ! command -v dbus-run-session >/dev/null 2>&1; then
  echo "dbus-run-session is not installed (scripts/install-deps installs it)" >&2
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
folder=$1 python=$2 fake=$3
shift 3
rm -rf "$folder" && mkdir -p "$folder" || exit 1
FAKE_AKONADI_CALLS="$folder/calls" dbus-run-session -- sh -c '
  "$1" "$2" akonadi_contacts_resource_0 "$FAKE_AKONADI_CALLS" & fake=$!
  tries=0
  while [ ! -e "$FAKE_AKONADI_CALLS.ready" ] && [ $tries -lt 200 ]; do
    sleep 0.05; tries=$((tries + 1))
  done
  shift 2
  "$@"; status=$?
  kill $fake 2>/dev/null; wait $fake
  exit $status' sh "$python" "$fake" "$@"
status=$?
rm -rf "$folder"
exit $status

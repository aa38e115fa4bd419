#!/usr/bin/env bash
# Runs the given test command against a real Secret Service of its own: a
# private session bus and a gnome-keyring unlocked with a throw-away
# password, in a temporary home, so the user's own keyrings are never seen.
# Exits 77 (skipped) when those programs are missing; scripts/setup.sh
# installs them.
set -u
for program in dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$program" >/dev/null; then
        echo "Skipped: $program is missing (scripts/setup.sh installs it)"
        exit 77
    fi
done
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
export XDG_RUNTIME_DIR="$home/run" KESTRELLE_KEYRING_SESSION=1
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- bash -c '
    printf keyring-test | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >/dev/null 2>&1 &
    keyring=$!
    # The daemon owns its name on the bus once it is ready.
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q "boolean true" && break
        sleep 0.1
    done
    "$@"
    status=$?
    kill "$keyring" 2>/dev/null
    wait "$keyring" 2>/dev/null
    exit $status' _ "$@"

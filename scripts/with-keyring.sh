#!/usr/bin/env bash
# Runs a command with a private, unlocked Secret Service. Call it under dbus-run-session.
# The keyring lives in a throw-away home so a developer's own keyring is never touched.
set -euo pipefail

scratch=$(mktemp -d)
# The daemon runs in the foreground as this script's own child, so the one ended is the one started
# here, never another keyring daemon of the same user.
trap 'if [ -n "${keyring_pid:-}" ]; then kill "$keyring_pid" 2>/dev/null || true; wait "$keyring_pid" 2>/dev/null || true; fi; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/runtime" "$scratch/data"
chmod 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_DATA_HOME="$scratch/data"
export HOME="$scratch"

# --unlock reads the new keyring's password from standard input.
printf 'penroost-test' >"$scratch/password"
gnome-keyring-daemon --foreground --unlock --components=secrets <"$scratch/password" >/dev/null &
keyring_pid=$!

secrets_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 300); do
    if secrets_on_bus && [ -S "$XDG_RUNTIME_DIR/keyring/control" ]; then
        break
    fi
    if ! kill -0 "$keyring_pid" 2>/dev/null; then
        echo "gnome-keyring-daemon did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if ! secrets_on_bus; then
    echo "gnome-keyring-daemon did not take the Secret Service name" >&2
    exit 1
fi
export GNOME_KEYRING_CONTROL="$XDG_RUNTIME_DIR/keyring"

"$@"

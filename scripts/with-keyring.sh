#!/usr/bin/env bash
# Runs a command with a private, unlocked Secret Service. Call it under dbus-run-session.
# The keyring lives in a throw-away home so a developer's own keyring is never touched.
set -euo pipefail

scratch=$(mktemp -d)
trap 'kill "${keyring_pid:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/runtime" "$scratch/data"
chmod 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_DATA_HOME="$scratch/data"
export HOME="$scratch"

# --unlock reads the new keyring's password from standard input.
eval "$(printf 'penroost-test' | gnome-keyring-daemon --unlock --components=secrets)"
export GNOME_KEYRING_CONTROL
keyring_pid=${GNOME_KEYRING_PID:-$(pgrep -n -u "$(id -u)" gnome-keyring-d || true)}

"$@"

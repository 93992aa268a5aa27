#!/usr/bin/env bash
# Runs a command with a private PulseAudio daemon whose only microphone is a silent null source, so
# the audio recorder's tests record for real on a machine without sound hardware.
#
# The daemon has its own runtime folder and socket: a daemon the user already runs is neither used
# nor disturbed, two runs at once do not meet, and the daemon is stopped when the command ends,
# however it ends. PENROOST_REQUIRE_AUDIO=1 tells the tests that a microphone must be there.
set -euo pipefail

if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "with-pulseaudio: pulseaudio and pactl are needed (scripts/setup.sh installs them)" >&2
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/penroost-pulse.XXXXXX")
pid=""
stop_daemon() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap stop_daemon EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$dir/runtime" "$dir/state"
chmod 700 "$dir" "$dir/runtime" "$dir/state"
socket="$dir/runtime/native"
# Everything below talks to this daemon only; none of them may spawn another one.
export PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" PULSE_SERVER="unix:$socket"
printf 'autospawn = no\n' >"$dir/client.conf"
export PULSE_CLIENTCONFIG="$dir/client.conf"

# -n: no default script, so nothing reaches for real devices, the session bus or X11.
pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit --log-target=stderr --log-level=error \
    --load="module-native-protocol-unix socket=$socket auth-anonymous=1" \
    --load="module-null-source source_name=penroost_mic" \
    --load="module-null-sink sink_name=penroost_speaker" \
    2>"$dir/daemon.log" &
pid=$!

for _ in $(seq 100); do
    if pactl info >/dev/null 2>&1; then
        break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "with-pulseaudio: the daemon did not start:" >&2
        cat "$dir/daemon.log" >&2 || true
        exit 1
    fi
    sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "with-pulseaudio: the daemon does not answer" >&2; exit 1; }
pactl set-default-source penroost_mic >/dev/null
pactl set-default-sink penroost_speaker >/dev/null

export PENROOST_REQUIRE_AUDIO=1
# Not exec: the trap stops the daemon when the command is done.
set +e
"$@"
status=$?
set -e
exit "$status"

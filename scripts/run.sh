#!/usr/bin/env bash
# Installs what is missing, builds, starts the local fake service and opens the app against it.
# PENROOST_DEMO=1 starts the fake service with its demo accounts and pages (README, "Try it").
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target penroost fake-service

port=${PENROOST_FAKE_PORT:-8765}
demo=()
[ "${PENROOST_DEMO:-0}" = 1 ] && demo=(--demo)
./build/tools/fake-service/fake-service --port "$port" "${demo[@]}" &
fake_pid=$!
trap 'kill "$fake_pid" 2>/dev/null || true' EXIT
sleep 0.5

PENROOST_SERVICE_ORIGIN="http://127.0.0.1:$port" ./build/src/penroost "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once against the core as built, then once
# more against a core built with AddressSanitizer and UndefinedBehaviorSanitizer (the tests named
# "*_sanitized"). PENROOST_SKIP_SANITIZERS=1 leaves the second set out.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Includes only point down the layers.
python3 scripts/check-layers.py

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

sanitized=ON
[[ "${PENROOST_SKIP_SANITIZERS:-0}" == 1 ]] && sanitized=OFF

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENROOST_SANITIZED_TESTS=$sanitized
cmake --build build -j "$jobs"

# A private session bus with an unlocked keyring, so keyring tests run for real, and a private
# PulseAudio daemon with a silent microphone, so the recorder's tests record for real.
dbus-run-session -- bash scripts/with-keyring.sh bash scripts/with-pulseaudio.sh \
    ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

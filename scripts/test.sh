#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as built, then under
# AddressSanitizer and UndefinedBehaviorSanitizer. PENROOST_SKIP_SANITIZERS=1 skips the second run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Includes only point down the layers.
python3 scripts/check-layers.py

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_tests() {
    # A private session bus with an unlocked keyring, so keyring tests run for real, and a private
    # PulseAudio daemon with a silent microphone, so the recorder's tests record for real.
    dbus-run-session -- bash scripts/with-keyring.sh bash scripts/with-pulseaudio.sh \
        ctest --test-dir "$1" --output-on-failure --no-tests=error -j "$jobs"
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
run_tests build

if [[ "${PENROOST_SKIP_SANITIZERS:-0}" != 1 ]]; then
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENROOST_SANITIZE=ON
    cmake --build build-sanitize -j "$jobs"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    run_tests build-sanitize
fi

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the end-to-end journeys in a real (virtual) X display,
# saving what the window shows at each named point as PNG files: screenshots/light/ in the default
# light palette, screenshots/dark/ in a dark desktop's palette. The README's "Screenshots" lists them.
# PENROOST_BUILD_DIR names another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=${PENROOST_BUILD_DIR:-build}
journeys=(tst_new_user_journey tst_block_kinds_journey tst_collaboration_journey tst_find_and_publish_journey)
# An existing build folder keeps its own configuration.
[[ -f "$build/CMakeCache.txt" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target "${journeys[@]}" -j "$(nproc)"

export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
for theme in light dark; do
    out="$PWD/screenshots/$theme"
    rm -rf "$out"
    mkdir -p "$out"
    for journey in "${journeys[@]}"; do
        PENROOST_SCREENSHOTS="$out" PENROOST_SCREENSHOT_THEME="$theme" QT_QPA_PLATFORM=xcb \
            bash scripts/with-pulseaudio.sh dbus-run-session -- bash scripts/with-keyring.sh \
            xvfb-run -a -s "-screen 0 1400x900x24" "$build/tests/$journey"
    done
done
ls -1 screenshots/light screenshots/dark

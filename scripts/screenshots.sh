#!/usr/bin/env bash
# Installs what is missing, builds, and walks a new user through the app in a real (virtual) X
# display, saving what the window shows at eight points as PNG files in screenshots/:
# 01-welcome, 02-sign-in, 03-main-window, 04-slash-menu, 05-trash, 06-format-toolbar, 07-home,
# 08-quick-switcher.
# PENROOST_BUILD_DIR names another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=${PENROOST_BUILD_DIR:-build}
# An existing build folder keeps its own configuration.
[[ -f "$build/CMakeCache.txt" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target tst_new_user_journey -j "$(nproc)"

out="$PWD/screenshots"
mkdir -p "$out"
rm -f "$out"/0[1-8]-*.png

export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
PENROOST_SCREENSHOTS="$out" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1400x900x24" "$build/tests/tst_new_user_journey"

ls -1 "$out"/0[1-8]-*.png

#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang under ASan and UBSan and fuzzes each for a while.
#   scripts/fuzz.sh [seconds per harness, default 600] [harness...]
# Harnesses: json_reader reply_decoders state_loader marker_spans drawing_strokes http_replies (all by
# default). Each starts from its seeds in tests/fuzz/corpus/<name>; new inputs go to
# build-fuzz/corpus/<name>, crashes and other findings to build-fuzz/findings/<name>. Safe to run
# again: both folders are kept.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-600}
shift || true
HARNESSES=("$@")
((${#HARNESSES[@]})) || HARNESSES=(json_reader reply_decoders state_loader marker_spans drawing_strokes http_replies)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
JOBS=${FUZZ_JOBS:-4}

# Debian's clang 14 ships libFuzzer in its compiler runtime.
bash "$ROOT/scripts/setup.sh" clang-14 libclang-rt-14-dev

# FUZZ_SKIP_BUILD=1 reuses the build, so several harnesses can run side by side.
if [[ -z ${FUZZ_SKIP_BUILD:-} ]]; then
    LAUNCHER=()
    command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DPENROOST_FUZZ=ON -DPENROOST_BUILD_TESTS=OFF "${LAUNCHER[@]}"
    cmake --build "$BUILD" -j "$JOBS" --target "${HARNESSES[@]/#/fuzz_}"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$ROOT/scripts/ubsan.supp"
export QT_QPA_PLATFORM=offscreen

status=0
for name in "${HARNESSES[@]}"; do
    corpus=$BUILD/corpus/$name
    findings=$BUILD/findings/$name
    mkdir -p "$corpus" "$findings"
    echo "== $name: ${SECONDS_EACH}s"
    # -rss_limit_mb: a state of many records is large, but never gigabytes.
    rc=0
    nice -n 10 "$BUILD/tests/fuzz/fuzz_$name" "$corpus" "$ROOT/tests/fuzz/corpus/$name" -max_total_time="$SECONDS_EACH" \
        -max_len=65536 -rss_limit_mb=4096 -timeout=30 -artifact_prefix="$findings/" -print_final_stats=1 \
        >"$BUILD/$name.log" 2>&1 || rc=$?
    grep -E "^(#[0-9]+ +(DONE|INITED)|==[0-9]+==ERROR|SUMMARY|stat::|finding:)" "$BUILD/$name.log" || true
    if ((rc != 0)); then
        echo "== $name found something: $BUILD/$name.log, $findings"
        status=1
    fi
done
exit $status

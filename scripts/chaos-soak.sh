#!/usr/bin/env bash
# A soak of the two-device chaos test beyond the suite's runs: many seeds, thousands of steps each,
# one process per seed, with the tally at the end. Exits non-zero when any run failed.
#   scripts/chaos-soak.sh            seeds 1-40, 3,000 steps, faults on, 3 runs at a time
# Set SEEDS ("1-40" or "20,36"), STEPS, FAULTS=0 (a service that never fails), JOBS, and
# TEST=tst_sync_chaos_sanitized to soak the build against the sanitized libraries. Each run's
# output is kept in OUT (a fresh folder under /tmp by default), its trace too with CHAOS_TRACE=1.
set -uo pipefail
cd "$(dirname "$0")/.."

seeds=${SEEDS:-1-40}
steps=${STEPS:-3000}
faults=${FAULTS:-1}
jobs=${JOBS:-3}
test=${TEST:-tst_sync_chaos}
binary=${BUILD:-build}/tests/$test
out=${OUT:-$(mktemp -d /tmp/chaos-soak-XXXXXX)}
if [[ ! -x $binary ]]; then
    echo "no $binary: build the $test target" >&2
    exit 2
fi
mkdir -p "$out"

list=()
IFS=',' read -ra parts <<<"$seeds"
for part in "${parts[@]}"; do
    from=${part%-*}
    to=${part#*-}
    for ((seed = from; seed <= to; seed++)); do list+=("$seed"); done
done
# Each seed once: a seed's run writes its own log.
mapfile -t list < <(printf '%s\n' "${list[@]}" | awk '!seen[$0]++')

export QT_QPA_PLATFORM=offscreen CHAOS_STEPS=$steps CHAOS_FAULTS=$faults
if [[ $test == *_sanitized ]]; then
    # As CTest runs the sanitized tests.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
    export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
echo "soaking $test: ${#list[@]} runs of $steps steps (faults $faults), $jobs at a time; logs in $out"
start=$SECONDS
printf '%s\n' "${list[@]}" | xargs -P "$jobs" -I{} sh -c \
    'CHAOS_SEEDS={} "$0" twoDevicesUnderFaults >"$1/seed-{}.log" 2>"$1/seed-{}.err"' "$binary" "$out"

failed=0
for seed in "${list[@]}"; do
    log=$out/seed-$seed.log
    summary=$(grep -m1 -o "seed $seed: .*" "$log" || echo "seed $seed: no summary")
    if grep -q '^FAIL!' "$log" || ! grep -q '^Totals: .* 0 failed' "$log"; then
        failed=$((failed + 1))
        echo "FAIL $summary"
        grep -E '^   (problem|lost|merged|duplicate|fill check left)|^  (problem|lost|merged|duplicate|fill check left)' "$log" | head -5
    else
        echo "ok   $summary"
    fi
done
echo "${#list[@]} runs, $failed failed, $((SECONDS - start)) s"
[[ $failed == 0 ]]

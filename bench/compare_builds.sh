#!/usr/bin/env bash
# Runs two builds of one benchmark alternately and gives each figure's median per build and the
# ratio of the second to the first. The benchmark prints one line "figures: name=value ...".
#   bench/compare_builds.sh OLD_BINARY NEW_BINARY [runs each, default 3] [benchmark arguments...]
set -euo pipefail

OLD=$1
NEW=$2
RUNS=${3:-3}
shift 3 || shift $#
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

for ((i = 1; i <= RUNS; i++)); do
    for which in old new; do
        binary=$OLD
        [[ $which == new ]] && binary=$NEW
        echo "== run $i, $which: $binary $*" >&2
        "$binary" "$@" | tee -a "$OUT/$which.log" | grep -v '^figures:' >&2
    done
done

python3 - "$OUT/old.log" "$OUT/new.log" <<'EOF'
import statistics, sys

def figures(path):
    out = {}
    for line in open(path):
        if line.startswith("figures:"):
            for pair in line.split()[1:]:
                name, value = pair.split("=")
                out.setdefault(name, []).append(float(value))
    return out

old, new = figures(sys.argv[1]), figures(sys.argv[2])
print(f"{'figure':<18}{'old (median)':>14}{'new (median)':>14}{'new/old':>10}   runs")
for name in old:
    o, n = statistics.median(old[name]), statistics.median(new[name])
    print(f"{name:<18}{o:>14.3f}{n:>14.3f}{n / o:>10.2f}   {len(old[name])}+{len(new[name])}")
EOF

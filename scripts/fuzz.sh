#!/usr/bin/env bash
# Long runs of the device library's fuzz driver, built with ASan+UBSan.
#
#   scripts/fuzz.sh [calls per seed] [first seed] [number of seeds]
#
# Defaults: 1,000,000 calls for each of 5 seeds starting at 1000. Each seed
# runs in a process of its own; the script prints the calls, the seed and the
# outcome of each run and a summary. A finding prints the seed and the last
# calls before it; `zv_fuzz --seed S --calls N` replays it.
set -uo pipefail
cd "$(dirname "$0")/.."

calls=${1:-1000000}
first=${2:-1000}
seeds=${3:-5}

cmake --preset asan >/dev/null
cmake --build build/asan --target zv_fuzz >/dev/null
driver=build/asan/tests/fuzz/zv_fuzz

findings=0
total=0
start=$(date +%s)
for ((seed = first; seed < first + seeds; ++seed)); do
    t0=$(date +%s)
    if "$driver" --seed "$seed" --calls "$calls"; then
        echo "seed $seed: $calls calls, no finding ($(( $(date +%s) - t0 )) s)"
    else
        echo "seed $seed: FINDING (see above; replay: $driver --seed $seed --calls $calls)"
        findings=$((findings + 1))
    fi
    total=$((total + calls))
done
echo "zv fuzz: $seeds seeds from $first, $total calls in $(( $(date +%s) - start )) s, $findings finding(s)"
[ "$findings" -eq 0 ]

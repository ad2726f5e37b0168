#!/usr/bin/env bash
# Long runs of the fuzz drivers of the device library (zv_fuzz) and of the
# rendering library (qm_fuzz), built with ASan+UBSan.
#
#   scripts/fuzz.sh [calls per seed] [first seed] [number of seeds] [drivers]
#
# Defaults: 1,000,000 calls for each of 5 seeds starting at 1000, for both
# drivers ("zv qm"; give "qm" or "zv" to run one). Each seed runs in a
# process of its own; the script prints the calls, the seed and the outcome
# of each run and a summary per driver. A finding prints the seed and the
# last calls before it; `<driver> --seed S --calls N` replays it (the
# single-threaded stretches exactly; the concurrent phases follow the same
# calls but not the same interleaving).
set -uo pipefail
cd "$(dirname "$0")/.."

calls=${1:-1000000}
first=${2:-1000}
seeds=${3:-5}
drivers=${4:-zv qm}

cmake --preset asan >/dev/null
targets=()
for d in $drivers; do
    targets+=("${d}_fuzz")
done
cmake --build build/asan --target "${targets[@]}" >/dev/null

status=0
for d in $drivers; do
    driver=build/asan/tests/fuzz/${d}_fuzz
    findings=0
    total=0
    start=$(date +%s)
    for ((seed = first; seed < first + seeds; ++seed)); do
        t0=$(date +%s)
        if "$driver" --seed "$seed" --calls "$calls"; then
            echo "$d seed $seed: $calls calls, no finding ($(($(date +%s) - t0)) s)"
        else
            echo "$d seed $seed: FINDING (see above; replay: $driver --seed $seed --calls $calls)"
            findings=$((findings + 1))
        fi
        total=$((total + calls))
    done
    echo "$d fuzz: $seeds seeds from $first, $total calls in $(($(date +%s) - start)) s, $findings finding(s)"
    [ "$findings" -eq 0 ] || status=1
done
exit $status

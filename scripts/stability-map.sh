#!/usr/bin/env bash
# Draws the stability map of a virtual wall on each simulated model: wall
# stiffness K against virtual damping B, with the simulated stable and
# unstable points and the passivity bound b > K T / 2 + |B| as a line.
#
#   scripts/stability-map.sh [output.png]
#
# The points come from korvo_stability_map (korvo/demo/stability_map.cpp),
# which renders each wall on the manual clock with the stylus held by the
# default grip. Default output: docs/stability-map.png.
#
# Environment: ZV_BUILD_DIR, the build tree (default build/default).
# Needs gnuplot (scripts/install-deps.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/stability-map.png}
build=${ZV_BUILD_DIR:-build/default}
program=$build/korvo/demo/korvo_stability_map
command -v gnuplot >/dev/null || { echo "gnuplot not found (scripts/install-deps.sh installs it)" >&2; exit 1; }
if [ ! -x "$program" ]; then
    cmake --build "$build" -j2 --target korvo_stability_map >/dev/null
fi

data=$(mktemp)
trap 'rm -f "$data"' EXIT
"$program" >"$data"
mkdir -p "$(dirname "$out")"

# Each block's first line names the model and gives its damping b and period T.
model() { awk -v n="$1" '/^# model/ { if (i++ == n) print $3 }' "$data"; }
damping() { awk -v n="$1" '/^# model/ { if (i++ == n) print $5 }' "$data"; }
period=$(awk '/^# model/ { print $7; exit }' "$data")

gnuplot <<EOF
set terminal pngcairo size 1500,560 noenhanced font ',10'
set output '$out'
set multiplot layout 1,3 title 'Virtual wall at 1000 ticks per second, stylus held by the default grip: stable (o) and buzzing (x) walls'
set xlabel 'virtual damping B (N s/mm)'
set ylabel 'wall stiffness K (N/mm)'
set xrange [-0.0065:0.0105]
set yrange [0:26]
set grid
set key outside below horizontal
set samples 400
T = $period
do for [i=0:2] {
    b = (i == 0 ? $(damping 0) : (i == 1 ? $(damping 1) : $(damping 2)))
    name = (i == 0 ? '$(model 0)' : (i == 1 ? '$(model 1)' : '$(model 2)'))
    set title sprintf('%s (b = %.4f N s/mm)', name, b)
    bound(x) = abs(x) < b ? 2 * (b - abs(x)) / T : 1/0
    plot '$data' index i using 2:(\$3 == 1 ? \$1 : 1/0) with points pt 6 ps 0.8 lc rgb '#2ca02c' title 'settles', \
         '$data' index i using 2:(\$3 == 0 ? \$1 : 1/0) with points pt 2 ps 0.8 lc rgb '#d62728' title 'buzzes', \
         bound(x) with lines lw 2 lc rgb '#1f77b4' title 'passivity bound b = K T/2 + |B|'
}
unset multiplot
EOF
echo "stability map: $out"

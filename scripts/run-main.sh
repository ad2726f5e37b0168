#!/usr/bin/env bash
# Installs the dependencies, builds what the main job needs (the libraries,
# the simulated device's I/O library, the sphere sample, the hello haptics
# sample and the colour probe that takes its picture; no tests, no
# benchmarks) and runs the main job on the simulated device
# (scripts/run-sample.sh): the frictionless sphere sample, summarised and
# plotted, then the hello haptics sample (on a virtual display when there is
# none), with a picture of its window and a plot of the device's and the
# proxy's depth against time.
#
# The build tree is the default preset's, so scripts/test-all.sh later builds
# the rest in the same tree.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target frictionless_sphere_demo hello_haptics_demo x11_colour_probe
status=0
bash scripts/run-sample.sh frictionless_sphere_demo "$@" || status=$?
bash scripts/run-sample.sh hello_haptics_demo || status=$?
exit $status

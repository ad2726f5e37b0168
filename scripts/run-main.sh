#!/usr/bin/env bash
# Installs the dependencies, builds what the main job needs (the device
# library, the simulated device's I/O library and the sphere sample; no tests,
# no benchmarks) and runs the main job on the simulated device: the
# frictionless sphere sample, summarised and plotted (scripts/run-sample.sh).
#
# The build tree is the default preset's, so scripts/test-all.sh later builds
# the rest in the same tree.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target frictionless_sphere_demo
exec bash scripts/run-sample.sh frictionless_sphere_demo "$@"

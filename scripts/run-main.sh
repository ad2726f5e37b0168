#!/usr/bin/env bash
# Installs the dependencies, builds the SDK and runs the main job on the
# simulated device: the frictionless sphere sample, summarised and plotted
# (scripts/run-sample.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec bash scripts/run-sample.sh frictionless_sphere_demo "$@"

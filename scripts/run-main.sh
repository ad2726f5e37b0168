#!/usr/bin/env bash
# Installs the dependencies, builds the SDK and runs the main job on the
# simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/korvo/korvo_sim_demo "$@"

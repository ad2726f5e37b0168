#!/usr/bin/env bash
# Installs the dependencies, builds the SDK three ways (normal, ASan+UBSan,
# TSan) and runs the tests: every test on the normal build, the unit tests on
# the two sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

run_preset() {
    local preset=$1
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "=== $preset: test"
    ctest --preset "$preset"
}

start=$(date +%s)
for preset in default asan tsan; do
    run_preset "$preset"
done
echo "=== all tests passed in $(( $(date +%s) - start )) s"

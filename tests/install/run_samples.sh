#!/usr/bin/env bash
# Builds sample programs the way a user does, from the installed SDK only:
# installs the build tree into a scratch prefix, configures samples/ as a
# project of its own against that prefix (find_package(ZvSdk)), builds a
# console sample and the graphical ones, and runs them on the simulated
# device (the hello haptics sample only up to its report of a missing one).
#
#   run_samples.sh <build dir> <samples source dir> <scratch dir> <generator>
set -euo pipefail
build=$1
samples=$2
work=$3
generator=$4

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$samples" -B "$work/build" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" --target frictionless_sphere_demo sphere_contact_demo hello_haptics_demo

# Neither the SDK's headers nor its libraries may have come from its source
# or build tree.
src=$(dirname "$samples")
if grep -qs -e "$src/include" -e "$src/platform" -e "$build/zv/" -e "$build/korvo/" -e "$build/platform/" \
        "$work/build/build.ninja" "$work/build/CMakeCache.txt"; then
    echo "the samples' build refers to the SDK's source or build tree" >&2
    exit 1
fi

export LD_LIBRARY_PATH=$prefix/lib
# Stalls of a busy test machine must not end the servo callbacks.
export KORVO_SIM_OVERRUN_TOLERANCE=600000
fail() { echo "FAILED: $*" >&2; exit 1; }

# The console sample renders the sphere while its input stays open, then ends
# at end of input as at a key press. The stylus starts at the centre of the
# sphere, so the trace shows the sphere pushing it out.
trace=$work/sphere.trace.csv
status=0
out=$(sleep 2 | KORVO_SIM_TRAJECTORY="$samples/frictionless_sphere_demo/trajectory.csv" KORVO_SIM_TRACE="$trace" \
    timeout 120 "$work/build/frictionless_sphere_demo/frictionless_sphere_demo" 2>&1) || status=$?
echo "$out"
[ $status -eq 0 ] || fail "frictionless_sphere_demo exited with status $status"
grep -q "Move the device around to feel a frictionless sphere" <<<"$out" || fail "no sphere prompt"
pushed=$(awk -F, 'NR > 1 && ($12 * $12 + $13 * $13 + $14 * $14) > 0.01 { n++ } END { print n + 0 }' "$trace")
echo "ticks with a force from the sphere: $pushed"
[ "$pushed" -gt 0 ] || fail "the trace shows no force from the sphere"

# The graphical sample on a virtual display, until the simulated cable is
# pulled after two seconds: the program reports that its callback ended and,
# its input being at end, exits with status 255 (-1).
command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/install-deps.sh)"
Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
status=0
out=$(DISPLAY=":$(head -n1 "$work/display")" KORVO_SIM_FAULTS="2:-19:persistent" \
    KORVO_SIM_TRAJECTORY="$samples/sphere_contact_demo/trajectory.csv" \
    timeout 120 "$work/build/sphere_contact_demo/sphere_contact_demo" </dev/null 2>&1) || status=$?
echo "$out"
[ $status -eq 255 ] || fail "sphere_contact_demo exited with status $status"
grep -q "Found device Korvo Arm 3G" <<<"$out" || fail "no device found"
grep -q "The main scheduler callback has exited" <<<"$out" || fail "the unplugged device was not reported"

# The sample on the rendering library, linked against the installed libqm:
# without a device it reports the failure and, its input being at end, exits
# with status 255 (-1).
status=0
out=$(DISPLAY=":$(head -n1 "$work/display")" KORVO_SIM_NO_DEVICE=1 \
    timeout 120 "$work/build/hello_haptics_demo/hello_haptics_demo" </dev/null 2>&1) || status=$?
echo "$out"
[ $status -eq 255 ] || fail "hello_haptics_demo exited with status $status"
grep -q "Message: Failed to initialize haptic device" <<<"$out" || fail "hello_haptics_demo did not report the missing device"
echo "the samples built from the installed SDK ran on the simulated device"

#!/usr/bin/env bash
# Runs a sample program on the simulated device, driven by the hand motion
# recorded for it, and keeps the simulator's trace of every servo tick.
#
#   scripts/run-sample.sh <name> [seconds]
#
# <name> is one of frictionless_sphere_demo, plane_demo, warm_motors_demo,
# motor_dac_console, sphere_contact_demo, hello_haptics_demo. The program plays
# samples/<name>/trajectory.csv as the virtual hand; samples/<name>/keys.txt,
# where there is one, is typed at the start. Standard input stays open for
# the given time (default: long enough for the whole motion) and is then
# closed, which the console programs take as the key press that ends them.
# The graphical sphere_contact_demo has no console keys: the simulated device
# is unplugged at the end of the time instead, and the program ends after
# reporting it. It needs a display; without one it runs on a virtual display
# (Xvfb), so only its console output and trace are seen.
#
# hello_haptics_demo (on the rendering library) never ends by itself: it is
# stopped at the end of the time, after a picture of its window has been
# taken while the hand presses the stylus onto the square (the tests' colour
# probe saves the screen; gnuplot turns it into a PNG). The program's own
# trace of the device and the proxy is then summarised and plotted: depth
# against time, the proxy resting on the square while the device presses in.
#
# For frictionless_sphere_demo the trace is then summarised: time in contact,
# deepest penetration, largest force, and whether every tick's force was
# (40 - d) x 0.25 along the radius (d: distance from the centre). A plot of
# the force felt against the penetration is written as a PNG (gnuplot).
#
# Environment: ZV_BUILD_DIR, the build tree (default build/default);
# ZV_SAMPLE_OUT, where traces and plots go (default build/sample-runs).
# Exit status: the program's; 1 if the sphere's force law did not hold.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: $0 <frictionless_sphere_demo|plane_demo|warm_motors_demo|motor_dac_console|sphere_contact_demo|hello_haptics_demo> [seconds]" >&2
    exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage
name=$1
case $name in
frictionless_sphere_demo) default_seconds=13 ;;
plane_demo) default_seconds=14.5 ;;
warm_motors_demo) default_seconds=40 ;;
motor_dac_console) default_seconds=6 ;;
sphere_contact_demo) default_seconds=12 ;;
hello_haptics_demo) default_seconds=8.5 ;;
*) usage ;;
esac
seconds=${2:-$default_seconds}

build=${ZV_BUILD_DIR:-build/default}
out=${ZV_SAMPLE_OUT:-build/sample-runs}
program=$build/samples/$name/$name
trajectory=$PWD/samples/$name/trajectory.csv
keys=samples/$name/keys.txt
[ -x "$program" ] || { echo "run-sample: $program not found; build the SDK first" >&2; exit 2; }
mkdir -p "$out"
trace=$(cd "$out" && pwd)/$name.trace.csv
rm -f "$trace"

export KORVO_SIM_TRAJECTORY=$trajectory
export KORVO_SIM_TRACE=$trace
# A shared or busy machine can stall the servo thread now and then; tolerate
# stalls of up to a second so that the demonstration is not cut short (set
# the variable yourself to see the strict behaviour).
export KORVO_SIM_OVERRUN_TOLERANCE=${KORVO_SIM_OVERRUN_TOLERANCE:-1000}

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ "$name" = sphere_contact_demo ]; then
    # A persistent communication loss (the cable pulled) at the end of the run.
    export KORVO_SIM_FAULTS="$seconds:-19:persistent"
fi
if [ "$name" = sphere_contact_demo ] || [ "$name" = hello_haptics_demo ]; then
    if [ -z "${DISPLAY:-}" ]; then
        command -v Xvfb >/dev/null || { echo "run-sample: no display and no Xvfb" >&2; exit 2; }
        for n in $(seq 90 140); do
            [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break
        done
        Xvfb ":$n" -screen 0 640x480x24 >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        echo "(running on the virtual display $DISPLAY)"
    fi
fi

echo "=== $name on the simulated device for $seconds s (trajectory $trajectory)"
status=0
if [ "$name" = hello_haptics_demo ]; then
    frames=$(dirname "$trace")/$name.frames.csv
    screen=$(dirname "$trace")/$name.screen.ppm
    geometry=""
    rm -f "$frames" "$screen"
    "$program" --trace "$frames" </dev/null &
    pid=$!
    # The hand holds the stylus pressed onto the square from 3 s to 6 s.
    sleep 5
    probe=$build/tests/samples/x11_colour_probe
    if [ -x "$probe" ]; then
        "$probe" "$screen" >/dev/null || echo "(the screen could not be read)"
        # Where the window is on the screen, for the picture.
        geometry=$(xwininfo -name "Hello Haptics" 2>/dev/null || true)
    else
        echo "(no $probe: no picture of the window; build the x11_colour_probe target)"
    fi
    sleep "$(awk -v s="$seconds" 'BEGIN { print (s > 5 ? s - 5 : 0) }')"
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" 2>/dev/null || true
    else
        wait "$pid" || status=$?
    fi
    echo "=== $name stopped after $seconds s (status $status); the program's trace: $frames"
else
    {
        [ -f "$keys" ] && cat "$keys"
        sleep "$seconds"
    } | "$program" || status=$?
    echo "=== $name exited with status $status; trace: $trace"
fi
if [ "$name" = sphere_contact_demo ] && [ $status -eq 255 ]; then
    echo "(status 255 (-1) is how the program ends once its device is gone)"
    status=0
fi

if [ "$name" = frictionless_sphere_demo ] && [ -s "$trace" ]; then
    # The largest force the device passes on (its zero-saturation safety
    # drops a bigger one), by model.
    case "${KORVO_SIM_MODEL:-arm3g}" in
    *mini* | *Mini*) max_force=3.3 ;;
    *6*) max_force=8 ;;
    *) max_force=6 ;;
    esac
    summary=$(awk -F, -v maxf="$max_force" '
        NR == 1 { next }
        {
            n++
            if (n == 1) first = $1
            last = $1
            d = sqrt($6 * $6 + $7 * $7 + $8 * $8)
            f = sqrt($12 * $12 + $13 * $13 + $14 * $14)
            if (f > largest) largest = f
            # Expected: outward along the radius, (40 - d) x 0.25 inside.
            ex = 0; ey = 0; ez = 0
            if (d < 40 && d > 0) {
                k = (40 - d) * 0.25 / d
                ex = $6 * k; ey = $7 * k; ez = $8 * k
            }
            if (d < 40) {
                contact++
                if (40 - d > deepest) deepest = 40 - d
            }
            if (sqrt(ex * ex + ey * ey + ez * ez) > maxf) { beyond++; next }
            checked++
            # The trace shows the true position; the program saw the encoder
            # reading, hundredths of a millimetre away.
            if ((ex - $12)^2 + (ey - $13)^2 + (ez - $14)^2 > 0.01^2) {
                bad++
                if (bad == 1) firstbad = sprintf("t=%s d=%.3f force (%s, %s, %s), expected (%.4f, %.4f, %.4f)", $1, d, $12, $13, $14, ex, ey, ez)
            }
        }
        END {
            dt = n > 1 ? (last - first) / (n - 1) : 0
            printf "ticks traced:          %d (%.2f s)\n", n, n * dt
            printf "time in contact:       %.2f s\n", contact * dt
            printf "deepest penetration:   %.2f mm\n", deepest
            printf "largest force:         %.3f N\n", largest
            if (beyond > 0) printf "ticks beyond the device maximum of %s N (the device drops such a force): %d\n", maxf, beyond
            if (bad == 0) printf "force = (40 - d) x 0.25 outward held on all %d ticks checked (within 0.01 N)\n", checked
            else printf "force = (40 - d) x 0.25 did NOT hold on %d of %d ticks; first: %s\n", bad, checked, firstbad
            exit (bad > 0)
        }' "$trace") || status=1
    echo "$summary"

    plot=$(dirname "$trace")/$name.png
    if command -v gnuplot >/dev/null; then
        gnuplot <<EOF
set terminal pngcairo size 900,600 noenhanced
set output '$plot'
set datafile separator ','
set title 'frictionless_sphere_demo: force felt against penetration into the sphere'
set xlabel 'penetration 40 - d (mm)'
set ylabel 'force felt (N)'
set grid
set key top left
pen(x, y, z) = 40 - sqrt(x * x + y * y + z * z)
set label 1 "beyond the device maximum:\\nthe device drops the force" at first $max_force * 4 + 1, graph 0.12
line(x) = x >= 0 && x <= $max_force * 4 ? 0.25 * x : 1/0
set samples 1000
plot line(x) with lines lw 1 dt 2 lc rgb '#d62728' title '(40 - d) x 0.25', \
     '$trace' every ::1 using (pen(\$6, \$7, \$8) > -10 ? pen(\$6, \$7, \$8) : 1/0):(sqrt(\$12**2 + \$13**2 + \$14**2)) \
        with points pt 7 ps 0.5 lc rgb '#1f77b4' title 'trace (one point per servo tick)'
EOF
        echo "plot: $plot"
    else
        echo "(gnuplot not found: no plot; scripts/install-deps.sh installs it)"
    fi
fi
if [ "$name" = hello_haptics_demo ] && [ -s "$frames" ]; then
    # The square is the plane z = -25 of the workspace; the hand holds 10 mm
    # below it, where its spring (0.5 N/mm) and the surface's (0.8 x 1.2
    # N/mm on the Arm 3G) balance 3.42 mm deep.
    awk -F, '
        NR == 1 { next }
        {
            n++
            if (-25 - $4 > deepest) { deepest = -25 - $4; proxyThen = $7 }
            if ($4 < -25.5) { pressed++; if (pressed == 1 || $7 < lowest) lowest = $7 }
        }
        END {
            printf "frames traced:                   %d\n", n
            printf "deepest device penetration:      %.2f mm (balance of the springs: 3.42 mm)\n", deepest
            printf "proxy then:                      z = %.3f (the square at z = -25)\n", proxyThen
            if (pressed > 0) printf "lowest proxy while pressed in:   z = %.3f over %d frames\n", lowest, pressed
        }' "$frames"
    if command -v gnuplot >/dev/null; then
        plot=$(dirname "$trace")/$name.png
        gnuplot <<EOF
set terminal pngcairo size 900,600 noenhanced
set output '$plot'
set datafile separator ','
set title 'hello_haptics_demo: the stylus pressed onto the square (z = -25 mm)'
set xlabel 'time since the program started (s)'
set ylabel 'depth z in the device workspace (mm)'
set grid
set key bottom right
set arrow 1 from graph 0, first -25 to graph 1, first -25 nohead dt 2 lc rgb '#888888'
set label 1 'square' at graph 0.01, first -24
plot '$frames' every ::1 using 1:4 with lines lw 2 lc rgb '#1f77b4' title 'device', \
     '$frames' every ::1 using 1:7 with lines lw 2 dt 3 lc rgb '#d62728' title 'proxy'
EOF
        echo "plot: $plot"
        if [ -s "$screen" ]; then
            window=$(dirname "$trace")/$name.window.png
            header=$(head -n 3 "$screen" | wc -c)
            read -r width height < <(sed -n 2p "$screen")
            # The window as xwininfo found it; without it, where the program
            # asks for it (no window manager moves it on a virtual display).
            x=$(awk '/Absolute upper-left X/ { print $NF }' <<<"$geometry")
            y=$(awk '/Absolute upper-left Y/ { print $NF }' <<<"$geometry")
            w=$(awk '/Width:/ { print $NF }' <<<"$geometry")
            h=$(awk '/Height:/ { print $NF }' <<<"$geometry")
            [ -n "$x" ] && [ -n "$y" ] && [ -n "$w" ] && [ -n "$h" ] || { x=100; y=100; w=250; h=250; }
            gnuplot <<EOF
set terminal pngcairo size $((2 * w)),$((2 * h))
set output '$window'
unset border; unset tics; unset key; set margins 0, 0, 0, 0
set size ratio -1
set xrange [$x:$((x + w))]
set yrange [$y:$((y + h))] reverse
plot '$screen' binary skip=$header array=($width,$height) format='%uchar%uchar%uchar' using 1:2:3 with rgbimage
EOF
            echo "window: $window"
        fi
    else
        echo "(gnuplot not found: no plot; scripts/install-deps.sh installs it)"
    fi
fi
exit $status

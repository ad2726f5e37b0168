// Stability map of a virtual wall on each simulated model: for a grid of
// wall stiffness K and virtual damping B, whether the wall settles or
// buzzes when a user holds the stylus with the default grip.
//
// The wall is a spring-damper along y about the point where the hand holds
// the stylus, rendered as a program would at 1000 ticks per second: from the
// reported (encoder) position, with the damping from the difference of two
// readings, F = -K y - B (y - y_prev) / T. The stylus starts 0.1 mm off the
// wall's rest point; after 2000 ticks the wall counts as unstable when the
// oscillation over the last 200 ticks is larger than that start (it grew),
// and as stable otherwise. The passivity bound for the same set-up,
// b > K T / 2 + |B| with b the stylus's viscous friction plus the grip's
// damping, is printed with each model so that a plot can draw it.
//
// Output, one block per model (blocks separated by two blank lines, for
// gnuplot's `index`):
//   # model <name> b <physical damping N s/mm> T <period s>
//   <K N/mm> <B N s/mm> <1 stable | 0 unstable> <largest late amplitude / start>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"

namespace {

constexpr double kPeriod = 0.001;  // s, the default servo rate
constexpr double kStart = 0.1;     // mm off the rest point
constexpr unsigned kTicks = 2000;
constexpr unsigned kLateTicks = 200;
constexpr double kGripDamping = 0.005;  // N s/mm, the default grip

struct Wall {
    unsigned device;
    double k;
    double b;
    double previous;
    double late;  // largest |y| over the last ticks
    unsigned tick;
};

int renderWall(void* context) {
    auto& w = *static_cast<Wall*>(context);
    float p[3];
    update_korvo(w.device);
    get_korvo_pos(w.device, p);
    const double y = p[1];
    const float f[6] = {0.0f, static_cast<float>(-w.k * y - w.b * (y - w.previous) / kPeriod), 0.0f, 0.0f, 0.0f, 0.0f};
    send_korvo_force_6dof(w.device, f);
    w.previous = y;
    if (++w.tick > kTicks - kLateTicks) w.late = std::max(w.late, std::fabs(y));
    return 0;
}

// Runs one wall; returns the largest late amplitude over the start, or a
// negative number when the simulator refused something.
double runWall(const char* model, double k, double b) {
    if (korvo_sim_reset() != 0 || korvo_sim_set_manual_clock(1) != 0) return -1.0;
    const int handle = init_korvo(model);
    if (handle < 0) return -1.0;
    const auto device = static_cast<unsigned>(handle);
    // The hand holds the stylus at the wall's rest point (the origin); the
    // stylus starts off it. Truncation keeps a buzzing wall's force at the
    // maximum instead of dropping it.
    const double origin[3] = {0.0, 0.0, 0.0};
    const double start[3] = {0.0, kStart, 0.0};
    if (korvo_sim_place_stylus(device, start) != 0 || korvo_sim_set_hand_target(device, origin) != 0 ||
        enable_korvo_velocity_check(device, 0) != 0 || truncate_force_saturation(device) != 0 ||
        enable_korvo_forces(device) != 0)
        return -1.0;
    Wall wall{device, k, b, kStart, 0.0, 0};
    if (initOSExtender() != KORVO_SERVO_OK || startServoLoop(renderWall, &wall) != KORVO_SERVO_OK) return -1.0;
    const int ran = korvo_sim_run_ticks(kTicks);
    stopServoLoop();
    disable_korvo(device);
    return ran == 0 ? wall.late / kStart : -1.0;
}

}  // namespace

int main() {
    struct Model {
        const char* name;
        double viscousFriction;  // N s/mm, as documented in korvo_sim.h
    };
    const Model models[] = {{"arm3g", 0.0005}, {"arm6", 0.0008}, {"mini", 0.0003}};
    bool first = true;
    for (const Model& m : models) {
        if (!first) std::printf("\n\n");
        first = false;
        std::printf("# model %s b %.6f T %.6f\n", m.name, m.viscousFriction + kGripDamping, kPeriod);
        for (int i = 0; i <= 20; ++i) {
            const double k = 1.0 + 1.2 * i;
            for (int j = 0; j <= 16; ++j) {
                const double b = -0.006 + 0.001 * j;
                const double growth = runWall(m.name, k, b);
                if (growth < 0.0) {
                    std::fprintf(stderr, "stability_map: the simulator refused %s K %g B %g\n", m.name, k, b);
                    return 1;
                }
                std::printf("%.3f %.4f %d %.4g\n", k, b, growth <= 1.0 ? 1 : 0, growth);
            }
        }
    }
    korvo_sim_reset();
    return 0;
}

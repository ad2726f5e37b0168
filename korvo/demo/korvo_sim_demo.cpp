// korvo_sim_demo: a virtual hand presses the simulated stylus into a floor
// rendered by a servo callback, harder and harder, and the program tells
// what the device does: where the stylus rests, what force the motors
// apply, when the force saturates and when the motors get too warm.
//
//   korvo_sim_demo              simulated time (runs in well under a second)
//   korvo_sim_demo --realtime   the same at the pace of a real device
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"

namespace {

// The floor y = 0, pushing up with the device's nominal stiffness.
struct Floor {
    unsigned device = 0;
    double stiffness = 0.0;
    std::atomic<int> lastCode{0};
};

int renderFloor(void* context) {
    auto* floor = static_cast<Floor*>(context);
    float p[3] = {};
    update_korvo(floor->device);
    get_korvo_pos(floor->device, p);
    const float force[6] = {0.0f, p[1] < 0.0f ? static_cast<float>(-floor->stiffness * p[1]) : 0.0f, 0, 0, 0, 0};
    floor->lastCode.store(send_korvo_force_6dof(floor->device, force));
    return 0;
}

const char* describe(int code) {
    switch (code) {
    case KORVO_OK: return "ok";
    case KORVO_WARM_MOTORS: return "motors too warm: output cut to zero";
    case KORVO_EXCEEDED_MAX_FORCE: return "maximum force exceeded";
    case KORVO_EXCEEDED_MAX_VELOCITY: return "maximum velocity exceeded";
    case KORVO_EXCEEDED_MAX_FORCE_IMPULSE: return "force kick refused";
    default: return "device error";
    }
}

// Where the hand wants the stylus, by time: above the floor, pressing
// lightly, pressing far harder than the motors can resist, then letting go.
double handHeight(double t) {
    if (t < 1.0) return 20.0;
    if (t < 2.0) return 20.0 - 35.0 * (t - 1.0);
    if (t < 4.0) return -15.0;
    if (t < 5.0) return -15.0 - 30.0 * (t - 4.0);
    if (t < 12.0) return -45.0;
    return 20.0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool realTime = argc > 1 && std::strcmp(argv[1], "--realtime") == 0;
    const int handle = init_korvo("");
    if (handle < 0) {
        std::fprintf(stderr, "No device (code %d).\n", handle);
        return 1;
    }
    Floor floor;
    floor.device = static_cast<unsigned>(handle);
    floor.stiffness = get_korvo_nominal_max_stiffness(floor.device);
    std::printf("%s by %s: floor at y = 0 with %.2f N/mm, force limit %.1f N (continuous %.1f N)\n",
                get_korvo_model_type(floor.device), get_vendor_string(floor.device), floor.stiffness,
                get_korvo_nominal_max_force(floor.device), get_korvo_nominal_max_continuous_force(floor.device));

    truncate_force_saturation(floor.device);
    enable_korvo_forces(floor.device);
    initOSExtender();
    korvo_sim_set_manual_clock(realTime ? 0 : 1);
    if (startServoLoop(renderFloor, &floor) != KORVO_SERVO_OK) {
        std::fprintf(stderr, "The servo loop did not start.\n");
        return 1;
    }

    std::printf("\n  time   hand y  stylus y   force y   hottest motor\n");
    constexpr int kStepMs = 10;
    int lastReported = KORVO_OK;
    for (int ms = 0; ms <= 16000; ms += kStepMs) {
        const double t = ms / 1000.0;
        const double target[3] = {0.0, handHeight(t), 0.0};
        korvo_sim_set_hand_target(floor.device, target);
        if (realTime)
            std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
        else
            korvo_sim_run_ticks(kStepMs);

        const int code = floor.lastCode.load();
        if (code != lastReported) {
            std::printf("  %5.2f s  %s\n", t, code == KORVO_OK ? "output accepted again" : describe(code));
            lastReported = code;
        }
        if (ms % 1000 == 0) {
            double p[3], v[3], f[3];
            float temperatures[3];
            korvo_sim_get_true_state(floor.device, p, v, f);
            get_korvo_temp_normalized(floor.device, temperatures);
            const float hottest = std::fmax(temperatures[0], std::fmax(temperatures[1], temperatures[2]));
            std::printf("%6.1f s %8.1f %9.2f %8.2f N %9.2f\n", t, target[1], p[1], f[1], hottest);
        }
    }
    stopServoLoop();
    disable_korvo(floor.device);
    std::printf(
        "\nThe floor holds the stylus where the hand's pull and the floor's push balance;\n"
        "a harder push saturates the motors at their limit, and holding it warms them\n"
        "until the device cuts the output and the stylus sinks to the hand.\n");
    return 0;
}

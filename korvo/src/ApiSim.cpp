// The simulator's control interface (korvo/korvo_sim.h).
#include "korvo/korvo_sim.h"

#include <cmath>
#include <memory>
#include <string>

#include "ApiSupport.h"

using namespace korvo::sim;
using namespace korvo::sim::api;

namespace {

// Bounds that keep out values no hand or test can mean.
constexpr double kMaxHandCoordinate = 10000.0;  // mm
constexpr double kMaxHandStiffness = 100.0;     // N/mm
constexpr double kMaxHandDamping = 10.0;        // N s/mm
constexpr double kMaxHandForce = 100.0;         // N, each component
constexpr double kMaxViscousFriction = 1.0;     // N s/mm
constexpr double kMaxCoulombFriction = 10.0;    // N
constexpr double kMaxTemperature = 100.0;

Vec3 finiteVector(const double* v) {
    requirePointer(v);
    requireFinite(v, 3);
    return Vec3::from(v);
}

void requireFaultCode(int code) { require(code <= 0, KORVO_OUT_OF_RANGE); }

}  // namespace

extern "C" {

// ------------------------------------------------------------ clock

int korvo_sim_set_manual_clock(int on) {
    return guarded([&] { return simulator().loop().setManualClock(on != 0); });
}

int korvo_sim_run_ticks(unsigned int count) {
    return guarded([&] { return simulator().loop().runTicks(count); });
}

int korvo_sim_get_time(double* seconds, uint64_t* ticks) {
    return guarded([&] {
        requirePointer(seconds);
        requirePointer(ticks);
        const ServoTiming timing = simulator().loop().timing();
        *seconds = timing.simulatedTime;
        *ticks = timing.ticks;
        return KORVO_OK;
    });
}

int korvo_sim_get_tick_lateness(double* seconds) {
    return guarded([&] {
        requirePointer(seconds);
        *seconds = simulator().loop().manualClock() ? 0.0 : simulator().loop().timing().lateness;
        return KORVO_OK;
    });
}

// ------------------------------------------------------------ the hand

int korvo_sim_set_hand_target(unsigned int handle, const double position[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        const Vec3 target = finiteVector(position);
        for (std::size_t i = 0; i < 3; ++i) require(std::fabs(target[i]) <= kMaxHandCoordinate, KORVO_OUT_OF_RANGE);
        d.setHandTarget(target);
        return KORVO_OK;
    });
}

int korvo_sim_set_hand_gains(unsigned int handle, double stiffness, double damping) {
    return onDevice(handle, [&](ISimDevice& d) {
        require(std::isfinite(stiffness) && std::isfinite(damping), KORVO_NON_FINITE_VALUE);
        require(stiffness >= 0.0 && stiffness <= kMaxHandStiffness, KORVO_OUT_OF_RANGE);
        require(damping >= 0.0 && damping <= kMaxHandDamping, KORVO_OUT_OF_RANGE);
        d.setHandGains(stiffness, damping);
        return KORVO_OK;
    });
}

int korvo_sim_set_hand_force(unsigned int handle, const double force[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        const Vec3 f = finiteVector(force);
        for (std::size_t i = 0; i < 3; ++i) require(std::fabs(f[i]) <= kMaxHandForce, KORVO_OUT_OF_RANGE);
        d.setHandForce(f);
        return KORVO_OK;
    });
}

int korvo_sim_set_friction(unsigned int handle, double viscous, double coulomb) {
    return onDevice(handle, [&](ISimDevice& d) {
        require(std::isfinite(viscous) && std::isfinite(coulomb), KORVO_NON_FINITE_VALUE);
        require(viscous >= 0.0 && viscous <= kMaxViscousFriction, KORVO_OUT_OF_RANGE);
        require(coulomb >= 0.0 && coulomb <= kMaxCoulombFriction, KORVO_OUT_OF_RANGE);
        d.setFriction(viscous, coulomb);
        return KORVO_OK;
    });
}

int korvo_sim_set_encoder_quantisation(unsigned int handle, int on) {
    return onDevice(handle, [&](ISimDevice& d) {
        requireFlag(on);
        d.setIdealEncoders(on == 0);
        return KORVO_OK;
    });
}

int korvo_sim_place_stylus(unsigned int handle, const double position[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        d.placeStylus(finiteVector(position));
        return KORVO_OK;
    });
}

int korvo_sim_set_gimbal_angles(unsigned int handle, const double angles[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        const Vec3 g = finiteVector(angles);
        d.setGimbalAngles({g.x, g.y, g.z});
        return KORVO_OK;
    });
}

int korvo_sim_set_buttons(unsigned int handle, int bits) {
    return onDevice(handle, [&](ISimDevice& d) {
        require(bits >= 0 && bits <= 7, KORVO_OUT_OF_RANGE);
        d.setButtons(bits);
        return KORVO_OK;
    });
}

int korvo_sim_set_switches(unsigned int handle, int inkwell, int safety) {
    return onDevice(handle, [&](ISimDevice& d) {
        requireFlag(inkwell);
        requireFlag(safety);
        d.setSwitches(inkwell != 0, safety != 0);
        return KORVO_OK;
    });
}

int korvo_sim_set_pinch(unsigned int handle, double value) {
    return onDevice(handle, [&](ISimDevice& d) {
        require(std::isfinite(value), KORVO_NON_FINITE_VALUE);
        require(value >= 0.0 && value <= 1.0, KORVO_OUT_OF_RANGE);
        d.setPinch(value);
        return KORVO_OK;
    });
}

// The file is read and parsed on the calling thread without the device lock;
// the device only swaps in the finished trajectory.
int korvo_sim_load_trajectory(unsigned int handle, const char* path) {
    return guarded([&] {
        if (!simulator().devices().access(handle)) return static_cast<int>(KORVO_INVALID_HANDLE);
        std::unique_ptr<ITrajectory> trajectory;
        if (path != nullptr) trajectory = std::make_unique<Trajectory>(Trajectory::load(path));
        std::unique_ptr<ITrajectory> previous;
        const int rc = onDevice(handle, [&](ISimDevice& d) {
            previous = d.setTrajectory(std::move(trajectory));
            return KORVO_OK;
        });
        return rc;
    });
}

// ------------------------------------------------------------ faults

int korvo_sim_inject_fault(unsigned int handle, int code) {
    return onDevice(handle, [&](ISimDevice& d) {
        requireFaultCode(code);
        d.faults().inject(code);
        return KORVO_OK;
    });
}

int korvo_sim_set_persistent_fault(unsigned int handle, int code) {
    return onDevice(handle, [&](ISimDevice& d) {
        requireFaultCode(code);
        d.faults().setPersistent(code);
        return KORVO_OK;
    });
}

int korvo_sim_inject_init_fault(int code) {
    return guarded([&] {
        requireFaultCode(code);
        simulator().injectInitFault(code);
        return KORVO_OK;
    });
}

int korvo_sim_inject_servo_error(int code) {
    return guarded([&] {
        requireFaultCode(code);
        simulator().loop().injectError(code);
        return KORVO_OK;
    });
}

int korvo_sim_set_overrun_tolerance(unsigned int periods) {
    return guarded([&] {
        simulator().loop().setOverrunTolerance(periods);
        return KORVO_OK;
    });
}

int korvo_sim_set_calibration_status(unsigned int handle, int status) {
    return onDevice(handle, [&](ISimDevice& d) {
        require(status >= 0 && status <= 0xFF, KORVO_OUT_OF_RANGE);
        d.setCalibrationStatus(status);
        return KORVO_OK;
    });
}

int korvo_sim_set_motor_temperatures(unsigned int handle, const double* temperatures, int count) {
    return onDevice(handle, [&](ISimDevice& d) {
        requirePointer(temperatures);
        require((count == 3 || count == 6) && count <= d.model().motorCount(), KORVO_INVALID_ARGUMENT);
        requireFinite(temperatures, count);
        for (int i = 0; i < count; ++i)
            require(temperatures[i] >= 0.0 && temperatures[i] <= kMaxTemperature, KORVO_OUT_OF_RANGE);
        d.setTemperatures(temperatures, count);
        return KORVO_OK;
    });
}

// ------------------------------------------------------------ observation

int korvo_sim_get_true_state(unsigned int handle, double position[3], double velocity[3], double force[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        requirePointer(position);
        requirePointer(velocity);
        requirePointer(force);
        const Vec3 p = d.truePosition();
        const Vec3 v = d.trueVelocity();
        const Vec3 f = d.appliedForce();
        for (std::size_t i = 0; i < 3; ++i) {
            position[i] = p[i];
            velocity[i] = v[i];
            force[i] = f[i];
        }
        return KORVO_OK;
    });
}

int korvo_sim_publish_proxy(unsigned int handle, const double proxy[3], int touching, const double normal[3]) {
    return onDevice(handle, [&](ISimDevice& d) {
        ISimDevice::RenderingView view;
        if (proxy != nullptr) {
            view.valid = true;
            view.proxy = finiteVector(proxy);
            for (std::size_t i = 0; i < 3; ++i)
                require(std::fabs(view.proxy[i]) <= kMaxHandCoordinate, KORVO_OUT_OF_RANGE);
            view.touching = touching != 0;
            if (view.touching || normal != nullptr) view.normal = finiteVector(normal);
            if (view.touching) require(std::fabs(norm(view.normal) - 1.0) <= 1e-3, KORVO_OUT_OF_RANGE);
        }
        d.setRenderingView(view);
        return KORVO_OK;
    });
}

int korvo_sim_open_trace(const char* path) {
    return guarded([&] {
        if (path == nullptr) return simulator().trace().close() ? KORVO_OK : static_cast<int>(KORVO_SIM_E_FILE);
        simulator().trace().open(path);
        simulator().ensureExitHook();
        return static_cast<int>(KORVO_OK);
    });
}

// ------------------------------------------------------------ lifetime

int korvo_sim_reset(void) {
    return guarded([] { return simulator().reset(); });
}

}  // extern "C"

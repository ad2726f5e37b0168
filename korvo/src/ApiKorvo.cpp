// The device I/O interface (korvo/korvo.h) over the simulator.
#include "korvo/korvo.h"

#include <cmath>

#include "ApiSupport.h"
#include "zv_version.h"

using namespace korvo::sim;
using namespace korvo::sim::api;

namespace {

constexpr const char* kLibraryVersion = ZV_KORVO_LIBRARY_VERSION;
constexpr double kMaxAngleReference = 2.0 * 3.14159265358979323846;

// Settable limits must be positive and finite; the upper bounds only keep out
// values no device could mean.
void requireLimit(float value, double upper) {
    require(std::isfinite(value), KORVO_NON_FINITE_VALUE);
    require(value > 0.0f && value <= upper, KORVO_OUT_OF_RANGE);
}

template <class F>
korvo_bool flagOf(KorvoHandle device, F&& f) noexcept {
    return valueOf<korvo_bool>(device, 0, [&](ISimDevice& d) -> korvo_bool { return f(d) ? 1 : 0; });
}

template <class F>
float floatOf(KorvoHandle device, F&& f) noexcept {
    return valueOf<float>(device, 0.0f, [&](ISimDevice& d) { return static_cast<float>(f(d)); });
}

const ModelData& dataOf(ISimDevice& d) { return d.model().data(); }

}  // namespace

extern "C" {

// ------------------------------------------------------------ open/close

int init_korvo(const char* name) {
    return guarded([&] { return static_cast<int>(simulator().open(name)); });
}

int disable_korvo(KorvoHandle device) {
    return guarded([&] { return simulator().close(device); });
}

int initOSExtender(void) {
    return guarded([] { return simulator().loop().initialise(); });
}

// ------------------------------------------------------------ servo loop

int setPreServoCallback(KorvoServoCallback callback, void* context) {
    return guarded([&] {
        simulator().loop().setPreCallback(callback, context);
        return KORVO_SERVO_OK;
    });
}

int setPostServoCallback(KorvoServoCallback callback, void* context) {
    return guarded([&] {
        simulator().loop().setPostCallback(callback, context);
        return KORVO_SERVO_OK;
    });
}

int setServoErrorCallback(KorvoServoErrorCallback callback, void* context) {
    return guarded([&] {
        simulator().loop().setErrorCallback(callback, context);
        return KORVO_SERVO_OK;
    });
}

int startServoLoop(KorvoServoCallback callback, void* context) {
    return guarded([&] {
        simulator().ensureExitHook();
        return simulator().loop().start(callback, context);
    });
}

int stopServoLoop(void) {
    return guarded([] { return simulator().loop().stop(); });
}

int setServoLoopRate(unsigned int rate) {
    return guarded([&] { return simulator().loop().setRate(rate); });
}

double getServoLoopTimeStamp(void) {
    try {
        return simulator().loop().timing().timeStamp;
    } catch (...) {
        return 0.0;
    }
}

// ------------------------------------------------------------ per tick

int update_korvo(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.update(); });
}

int is_korvo_forces_enabled(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.forcesEnabled() ? 1 : 0; });
}

int enable_korvo_forces(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) {
        d.setForcesEnabled(true);
        return KORVO_OK;
    });
}

int disable_korvo_forces(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) {
        d.setForcesEnabled(false);
        return KORVO_OK;
    });
}

// ------------------------------------------------------------ reads

int get_korvo_pos(KorvoHandle device, float position[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(position);
        copyOut(position, d.snapshot().position);
        return KORVO_OK;
    });
}

int get_korvo_vel(KorvoHandle device, float velocity[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(velocity);
        copyOut(velocity, d.snapshot().velocity);
        return KORVO_OK;
    });
}

int get_korvo_vel_6dof(KorvoHandle device, float velocity[6]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(velocity);
        copyOut(velocity, d.snapshot().velocity);
        copyOut(velocity + 3, d.snapshot().angularVelocity);
        return KORVO_OK;
    });
}

int get_korvo_encoders(KorvoHandle device, float jointAngles[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(jointAngles);
        copyOut(jointAngles, d.snapshot().jointAngles);
        return KORVO_OK;
    });
}

int get_gimbal_encoders(KorvoHandle device, float gimbalAngles[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(gimbalAngles);
        copyOut(gimbalAngles, d.snapshot().gimbalAngles);
        return KORVO_OK;
    });
}

int get_stylus_matrix(KorvoHandle device, float matrix[16]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(matrix);
        copyOut(matrix, d.snapshot().matrix);
        return KORVO_OK;
    });
}

int get_korvo_jacobian(KorvoHandle device, double jacobian[36]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(jacobian);
        copyOut(jacobian, d.snapshot().jacobian);
        return KORVO_OK;
    });
}

int get_encoder_values(KorvoHandle device, int32_t encoders[6]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(encoders);
        copyOut(encoders, d.snapshot().encoders);
        return KORVO_OK;
    });
}

double get_pinch_value(KorvoHandle device) {
    return valueOf(device, 0.0, [](ISimDevice& d) { return d.snapshot().pinch; });
}

int get_stylus_switch(KorvoHandle device, int index) {
    return onDevice(device, [&](ISimDevice& d) {
        require(index >= 0 && index <= 2, KORVO_INVALID_INDEX);
        return (d.snapshot().buttons >> index) & 1;
    });
}

int get_stylus_presence(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.snapshot().safetySwitch; });
}

int get_inkwell_switch(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.snapshot().inkwellSwitch; });
}

// ------------------------------------------------------------ facts

int get_korvo_info(KorvoHandle device, int32_t* info, int size) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(info);
        require(size >= KORVO_INFO_SIZE, KORVO_INVALID_ARGUMENT);
        d.model().fillInfo(info);
        return KORVO_OK;
    });
}

float get_korvo_rate(KorvoHandle device) {
    return floatOf(device, [](ISimDevice&) { return simulator().loop().rate(); });
}

float get_korvo_inst_rate(KorvoHandle device) {
    return floatOf(device, [](ISimDevice&) { return simulator().loop().timing().instantRate; });
}

float get_korvo_nominal_max_stiffness(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxStiffness; });
}

float get_korvo_nominal_max_damping(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxDamping; });
}

float get_korvo_nominal_max_force(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxForce; });
}

float get_korvo_nominal_max_continuous_force(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxContinuousForce; });
}

float get_korvo_nominal_max_torque_stiffness(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxTorqueStiffness; });
}

float get_korvo_nominal_max_torque_damping(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxTorqueDamping; });
}

float get_korvo_nominal_max_torque_force(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxTorque; });
}

float get_korvo_nominal_max_torque_continuous_force(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return dataOf(d).maxContinuousTorque; });
}

float get_korvo_max_velocity(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return d.outputSettings().maxVelocity; });
}

float get_korvo_force_kick_safety(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return d.outputSettings().kickLimit; });
}

float get_korvo_ramp_forces_rate(KorvoHandle device) {
    return floatOf(device, [](ISimDevice& d) { return d.outputSettings().rampRate; });
}

int get_hardware_rev(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return dataOf(d).hardwareRevision; });
}

int get_status_light(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.statusLight(); });
}

const char* get_korvo_model_type(KorvoHandle device) {
    return valueOf<const char*>(device, "", [](ISimDevice& d) { return dataOf(d).name; });
}

const char* get_library_version(KorvoHandle device) {
    return valueOf<const char*>(device, "", [](ISimDevice&) { return kLibraryVersion; });
}

const char* get_vendor_string(KorvoHandle device) {
    return valueOf<const char*>(device, "", [](ISimDevice&) { return "Korvo Haptics"; });
}

const char* get_hardware_serial_number(KorvoHandle device) {
    return valueOf<const char*>(device, "", [](ISimDevice& d) { return dataOf(d).serial; });
}

int get_korvo_temp_normalized(KorvoHandle device, float temperatures[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(temperatures);
        const MotorValues t = d.temperatures();
        for (std::size_t i = 0; i < 3; ++i) temperatures[i] = static_cast<float>(t[i]);
        return KORVO_OK;
    });
}

int get_korvo_temp_normalized_6dof(KorvoHandle device, float temperatures[6]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(temperatures);
        copyOut(temperatures, d.temperatures());
        return KORVO_OK;
    });
}

// ------------------------------------------------------------ output

int send_korvo_force_6dof(KorvoHandle device, const float forceTorque[6]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(forceTorque);
        return d.sendForce(forceTorque);
    });
}

int command_motor_dac_values(KorvoHandle device, const int32_t values[6]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(values);
        return d.sendMotorValues(values);
    });
}

// ------------------------------------------------------------ safety

int set_korvo_max_velocity(KorvoHandle device, float limit) {
    return onDevice(device, [&](ISimDevice& d) {
        requireLimit(limit, 1e5);
        d.outputSettings().maxVelocity = limit;
        return KORVO_OK;
    });
}

int set_korvo_force_kick_safety(KorvoHandle device, float limit) {
    return onDevice(device, [&](ISimDevice& d) {
        requireLimit(limit, 1e3);
        d.outputSettings().kickLimit = limit;
        return KORVO_OK;
    });
}

int set_korvo_ramp_forces_rate(KorvoHandle device, float rate) {
    return onDevice(device, [&](ISimDevice& d) {
        requireLimit(rate, 1e4);
        d.outputSettings().rampRate = rate;
        return KORVO_OK;
    });
}

int enable_korvo_velocity_check(KorvoHandle device, int enable) {
    return onDevice(device, [&](ISimDevice& d) {
        requireFlag(enable);
        d.outputSettings().velocityCheck = enable != 0;
        return KORVO_OK;
    });
}

int enable_korvo_force_check(KorvoHandle device, int enable) {
    return onDevice(device, [&](ISimDevice& d) {
        requireFlag(enable);
        d.outputSettings().forceCheck = enable != 0;
        return KORVO_OK;
    });
}

int enable_korvo_force_kick_safety(KorvoHandle device, int enable) {
    return onDevice(device, [&](ISimDevice& d) {
        requireFlag(enable);
        d.outputSettings().kickCheck = enable != 0;
        return KORVO_OK;
    });
}

int enable_korvo_ramp_forces(KorvoHandle device, int enable) {
    return onDevice(device, [&](ISimDevice& d) {
        requireFlag(enable);
        d.outputSettings().ramp = enable != 0;
        return KORVO_OK;
    });
}

korvo_bool is_korvo_velocity_check_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.outputSettings().velocityCheck; });
}

korvo_bool is_korvo_force_check_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.outputSettings().forceCheck; });
}

korvo_bool is_korvo_force_kick_safety_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.outputSettings().kickCheck; });
}

korvo_bool is_korvo_ramp_forces_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.outputSettings().ramp; });
}

korvo_bool is_force_saturation_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.outputSettings().truncateSaturation; });
}

int truncate_force_saturation(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) {
        d.outputSettings().truncateSaturation = true;
        return KORVO_OK;
    });
}

int zero_force_saturation(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) {
        d.outputSettings().truncateSaturation = false;
        return KORVO_OK;
    });
}

int set_joint_angle_references(KorvoHandle device, const float angles[3]) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(angles);
        requireFinite(angles, 3);
        for (int i = 0; i < 3; ++i) require(std::fabs(angles[i]) <= kMaxAngleReference, KORVO_OUT_OF_RANGE);
        d.setJointReferences({angles[0], angles[1], angles[2]});
        return KORVO_OK;
    });
}

int override_status_light(KorvoHandle device, int state) {
    return onDevice(device, [&](ISimDevice& d) {
        require(state >= kLightOff && state <= kLightBlinkFast, KORVO_OUT_OF_RANGE);
        d.overrideStatusLight(state);
        return KORVO_OK;
    });
}

int restore_status_light(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) {
        d.restoreStatusLight();
        return KORVO_OK;
    });
}

korvo_bool is_status_light_enabled(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return d.statusLightOverridden(); });
}

// ------------------------------------------------------------ calibration

korvo_bool is_calibration_supported(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return dataOf(d).calibration != CalibrationStyle::EncoderReset; });
}

korvo_bool is_korvo_reset_supported(KorvoHandle device) {
    return flagOf(device, [](ISimDevice& d) { return dataOf(d).encoderResetSupported; });
}

int get_calibration_status(KorvoHandle device, int* status) {
    return onDevice(device, [&](ISimDevice& d) {
        requirePointer(status);
        *status = d.calibrationStatus();
        return KORVO_OK;
    });
}

int update_calibration(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.updateCalibration(); });
}

int korvo_reset(KorvoHandle device) {
    return onDevice(device, [](ISimDevice& d) { return d.resetEncoders(); });
}

}  // extern "C"

/*
 * KorvoIoLib42: the device I/O library.
 *
 * This is the driver-level interface that the device library `zv` is built on:
 * opening devices, the servo loop, raw sensor reads, force and motor output,
 * safety limits, calibration and the status light. The implementation shipped
 * with the SDK drives simulated devices (see korvo/korvo_sim.h for the
 * simulator's control interface); programs written against this header do not
 * know the difference.
 *
 * Conventions
 *  - Device calls take the device handle first. A handle is what init_korvo
 *    returned; any other value is refused with KORVO_INVALID_HANDLE.
 *  - Calls with an int result return 0 (or, where stated, a non-negative
 *    value) on success and a negative code from the list below on failure.
 *    On failure nothing is written to the caller's arrays.
 *  - Calls that return a float, double, boolean or string have no error
 *    channel: for an invalid handle they return 0 (0.0, false) or the empty
 *    string "", never a null pointer.
 *  - Units: positions in millimetres, velocities in millimetres per second,
 *    forces in newtons, torques in newton-millimetres, stiffness in newtons per
 *    millimetre, damping in newton-seconds per millimetre, angles in radians,
 *    time in seconds.
 *  - Threads: every call may be made from any thread. Per-tick calls
 *    (update_korvo, the reads, the outputs) are meant for the servo callbacks.
 *  - Errors common to the device calls: KORVO_INVALID_HANDLE for a handle
 *    that is not open, KORVO_INVALID_ARGUMENT for a null pointer,
 *    KORVO_NON_FINITE_VALUE for a NaN or infinite value, KORVO_OUT_OF_RANGE
 *    for a value outside the accepted range; only the further codes a call
 *    can return are listed with it. Boolean switches (the enable_ calls)
 *    accept 0 and 1.
 *  - The simulated device models, their limits and defaults, the safety
 *    chain of the output calls and the injected faults each call meets are
 *    described in korvo/korvo_sim.h.
 */
#ifndef KORVO_KORVO_H
#define KORVO_KORVO_H

#include <stdint.h>

#if defined(__GNUC__)
#define KORVO_API __attribute__((visibility("default")))
#else
#define KORVO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int KorvoHandle;
typedef unsigned char korvo_bool;

/* ------------------------------------------------------------------ codes */

/* Device codes: results of the calls that concern a device. */
enum {
    KORVO_OK = 0,
    KORVO_WARM_MOTORS = -1,                /* a motor is too hot; output refused, zero force applied */
    KORVO_EXCEEDED_MAX_FORCE = -2,         /* force over the nominal maximum with the force check on */
    KORVO_CONFIG_ERROR = -3,               /* device configuration is invalid */
    KORVO_DEVICE_FAULT = -4,               /* the device reports a fault */
    KORVO_INVALID_ARGUMENT = -5,           /* null pointer or wrong size */
    KORVO_NON_FINITE_VALUE = -6,           /* a NaN or infinite force, torque or value; zero force applied */
    KORVO_EXCEEDED_MAX_FORCE_IMPULSE = -7, /* force changed faster than the impulse limit */
    KORVO_AMPLIFIER_FAULT = -8,
    KORVO_OUT_OF_RANGE = -9, /* an argument outside its accepted range */
    KORVO_ENCODER_FAULT = -10,
    KORVO_INVALID_HANDLE = -11, /* not a handle of an open device */
    KORVO_POWER_FAULT = -12,
    KORVO_EXCEEDED_MAX_VELOCITY = -13, /* stylus faster than the velocity limit with the check on */
    KORVO_NOT_SUPPORTED = -14,         /* the device model lacks the feature */
    KORVO_INVALID_INDEX = -15,         /* button or motor index out of range */
    KORVO_DEVICE_NOT_PRESENT = -16,    /* no device is connected */
    KORVO_COMM_ERROR = -17,
    KORVO_COMM_TIMEOUT = -18,
    KORVO_COMM_LOST = -19,        /* the device was disconnected */
    KORVO_DEVICE_NOT_FOUND = -20, /* no device of that name */
    KORVO_PORT_ERROR = -21,
    KORVO_DRIVER_ERROR = -22,
    KORVO_CALIBRATION_FAILED = -24,
    KORVO_FIRMWARE_MISMATCH = -25,
    KORVO_DEVICE_TIMER_ERROR = -27,
    KORVO_COMM_OVERRUN = -28,
    KORVO_TOO_MANY_DEVICES = -29,
    KORVO_DEVICE_BUSY = -30,
    KORVO_CONFIG_READ_ERROR = -31,
    KORVO_INTERNAL_ERROR = -32
};

/* Servo-loop codes: results of initOSExtender and the servo-loop calls, and
 * the codes passed to the servo error callback. */
enum {
    KORVO_SERVO_OK = 0,
    KORVO_SERVO_TIMER_FAILED = -1, /* the timer could not be started or kept */
    KORVO_SERVO_ALREADY_RUNNING = -2,
    KORVO_SERVO_BAD_RATE = -3,        /* rate outside KORVO_MIN_SERVO_RATE..KORVO_MAX_SERVO_RATE */
    KORVO_SERVO_NOT_INITIALISED = -4, /* initOSExtender was not called */
    KORVO_SERVO_OVERRUN = -5,         /* a tick finished after the next one was due */
    KORVO_SERVO_THREAD_FAILED = -6,
    KORVO_SERVO_NO_CALLBACK = -7,
    KORVO_SERVO_NOT_RUNNING = -8
};

enum { KORVO_DEFAULT_SERVO_RATE = 1000, KORVO_MIN_SERVO_RATE = 100, KORVO_MAX_SERVO_RATE = 4000 };

/* Size in bytes of the record written by get_korvo_info (24 int32). */
enum { KORVO_INFO_SIZE = 96, KORVO_INFO_COUNT = 24 };

/* Indices into the get_korvo_info record. */
enum {
    KORVO_INFO_6DOF_INPUT = 0,
    KORVO_INFO_6DOF_OUTPUT = 1,
    KORVO_INFO_AUTO_CALIBRATION = 2,
    KORVO_INFO_INKWELL_CALIBRATION = 3,
    KORVO_INFO_USABLE_X_LOW = 4,
    KORVO_INFO_USABLE_X_HIGH = 5,
    KORVO_INFO_USABLE_Y_LOW = 6,
    KORVO_INFO_USABLE_Y_HIGH = 7,
    KORVO_INFO_USABLE_Z_LOW = 8,
    KORVO_INFO_USABLE_Z_HIGH = 9,
    KORVO_INFO_MAX_X_LOW = 10,
    KORVO_INFO_MAX_X_HIGH = 11,
    KORVO_INFO_MAX_Y_LOW = 12,
    KORVO_INFO_MAX_Y_HIGH = 13,
    KORVO_INFO_MAX_Z_LOW = 14,
    KORVO_INFO_MAX_Z_HIGH = 15,
    KORVO_INFO_TABLETOP_OFFSET = 22
};

/* Servo callbacks (pre, servo, post) return 0. */
typedef int (*KorvoServoCallback)(void* context);
typedef void (*KorvoServoErrorCallback)(int code, void* context);

/* ------------------------------------------------------------ open/close */

/* Opens the device of that name ("" or NULL: the default device). Returns the
 * handle (>= 0) or a negative device code: KORVO_DEVICE_NOT_FOUND for an
 * unknown name, KORVO_DEVICE_NOT_PRESENT when no device is connected,
 * KORVO_TOO_MANY_DEVICES, KORVO_CONFIG_READ_ERROR when a file named in the
 * environment cannot be used. Opening a device that is already open returns
 * its existing handle. A new device starts with forces off and the stylus at
 * rest at the centre of its usable workspace. */
KORVO_API int init_korvo(const char* name);
/* Closes the device; its handle becomes invalid (KORVO_INVALID_HANDLE when
 * it was not open). */
KORVO_API int disable_korvo(KorvoHandle device);
/* Prepares the process for the servo loop (pins the process's memory where
 * that is allowed); call once before startServoLoop. Returns a servo-loop
 * code. Later calls succeed and do nothing. */
KORVO_API int initOSExtender(void);

/* ------------------------------------------------------------ servo loop */

/* Register the callbacks run on the servo thread before and after the servo
 * callback of every tick, and the callback that receives servo-loop error
 * codes (overruns, timer failures). A null function clears the callback.
 * They may be changed while the loop runs; the change takes effect at the
 * next tick. Error codes are delivered on the servo thread at the start of
 * the tick after the event, before the pre callback. The results of the
 * callbacks are ignored. Always KORVO_SERVO_OK. */
KORVO_API int setPreServoCallback(KorvoServoCallback callback, void* context);
KORVO_API int setPostServoCallback(KorvoServoCallback callback, void* context);
KORVO_API int setServoErrorCallback(KorvoServoErrorCallback callback, void* context);
/* Starts the servo thread, which calls pre, servo and post once per tick at
 * the servo rate, against absolute deadlines (or, on the simulator's manual
 * clock, on request). Returns a servo-loop code: KORVO_SERVO_NOT_INITIALISED
 * before initOSExtender, KORVO_SERVO_NO_CALLBACK for a null callback,
 * KORVO_SERVO_ALREADY_RUNNING (also from the servo thread itself),
 * KORVO_SERVO_THREAD_FAILED. A tick that ends after the next deadline is
 * reported as KORVO_SERVO_OVERRUN; the deadlines it missed are skipped. The
 * servo thread runs in a real-time scheduling class where the process is
 * allowed one. */
KORVO_API int startServoLoop(KorvoServoCallback callback, void* context);
/* Stops the servo thread and waits until it has ended (a call from the servo
 * thread itself only requests the stop: the loop ends after the current
 * tick). KORVO_SERVO_NOT_RUNNING when no loop runs. When the loop has ended,
 * every device holds zero force. */
KORVO_API int stopServoLoop(void);
/* Sets the tick rate in ticks per second (default 1000); returns a
 * servo-loop code, KORVO_SERVO_BAD_RATE outside KORVO_MIN_SERVO_RATE ..
 * KORVO_MAX_SERVO_RATE. A running loop uses the new rate from its next
 * tick. */
KORVO_API int setServoLoopRate(unsigned int rate);
/* Time in seconds at which the current (or last) tick started, measured from
 * the start of the loop (on the manual clock: simulated time). 0 before the
 * first loop. */
KORVO_API double getServoLoopTimeStamp(void);

/* ------------------------------------------------------------ per tick */

/* Latches fresh sensor data, which all reads return until the next update.
 * Returns an injected communication or device fault, if any (the reads then
 * keep returning the previous data). */
KORVO_API int update_korvo(KorvoHandle device);
/* 1 when the amplifiers are on, 0 when off, a negative code on failure.
 * enable_korvo_forces switches them on (starting the force ramp when
 * ramping is enabled); disable_korvo_forces switches them off and drops the
 * held force. */
KORVO_API int is_korvo_forces_enabled(KorvoHandle device);
KORVO_API int enable_korvo_forces(KorvoHandle device);
KORVO_API int disable_korvo_forces(KorvoHandle device);

/* ------------------------------------------------------------ reads */

/* Position (mm) and velocity (mm/s) of the stylus (the gimbal centre). The
 * velocity is the device's estimate from its encoders (filtered encoder
 * differences; see korvo_sim.h), not a measurement. */
KORVO_API int get_korvo_pos(KorvoHandle device, float position[3]);
KORVO_API int get_korvo_vel(KorvoHandle device, float velocity[3]);
/* Linear velocity, then angular velocity (radians per second; zeros for a
 * device without gimbal encoders). */
KORVO_API int get_korvo_vel_6dof(KorvoHandle device, float velocity[6]);
/* Joint angles of the three arm joints: base rotation about y, shoulder
 * elevation, elbow (radians). Gimbal angles: zeros without gimbal encoders. */
KORVO_API int get_korvo_encoders(KorvoHandle device, float jointAngles[3]);
KORVO_API int get_gimbal_encoders(KorvoHandle device, float gimbalAngles[3]);
/* Stylus transform, 4x4 column-major, translation in elements 12..14. */
KORVO_API int get_stylus_matrix(KorvoHandle device, float matrix[16]);
/* 6x6 Jacobian, row-major: rows are x, y, z, rx, ry, rz; columns the three
 * arm joints then the three gimbal joints. */
KORVO_API int get_korvo_jacobian(KorvoHandle device, double jacobian[36]);
/* Raw encoder counts: three arm joints, then three gimbal joints (0 when the
 * model has no gimbal encoders). */
KORVO_API int get_encoder_values(KorvoHandle device, int32_t encoders[6]);
/* Pinch sensor value, 0..1 (0.0 for an invalid handle). */
KORVO_API double get_pinch_value(KorvoHandle device);
/* Nonzero when button `index` (0..2) is pressed; 0 for an index the model
 * lacks; KORVO_INVALID_INDEX for an index outside 0..2;
 * KORVO_INVALID_HANDLE for an invalid handle. */
KORVO_API int get_stylus_switch(KorvoHandle device, int index);
/* Safety switch (stylus presence) and inkwell switch: nonzero = on. */
KORVO_API int get_stylus_presence(KorvoHandle device);
KORVO_API int get_inkwell_switch(KorvoHandle device);

/* ------------------------------------------------------------ facts */

/* Writes the 24-int32 information record; `size` must be at least
 * KORVO_INFO_SIZE (KORVO_INVALID_ARGUMENT otherwise). Indices 2 and 3 are 1
 * for automatic and inkwell calibration; workspace bounds are in whole
 * millimetres; index 22 is the height of the workspace origin above the
 * tabletop (mm); unused entries are 0.
 * The float and string facts below return 0.0 or "" for an invalid handle.
 * get_korvo_rate is the servo rate set; get_korvo_inst_rate the rate
 * measured over the last tick (0 before a loop has run two ticks). The
 * torque maxima are 0 for a device without gimbal motors.
 * get_hardware_rev and get_status_light return the value (>= 0) or
 * KORVO_INVALID_HANDLE. */
KORVO_API int get_korvo_info(KorvoHandle device, int32_t* info, int size);
KORVO_API float get_korvo_rate(KorvoHandle device);
KORVO_API float get_korvo_inst_rate(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_stiffness(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_damping(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_force(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_continuous_force(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_torque_stiffness(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_torque_damping(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_torque_force(KorvoHandle device);
KORVO_API float get_korvo_nominal_max_torque_continuous_force(KorvoHandle device);
KORVO_API float get_korvo_max_velocity(KorvoHandle device);
KORVO_API float get_korvo_force_kick_safety(KorvoHandle device);
KORVO_API float get_korvo_ramp_forces_rate(KorvoHandle device);
KORVO_API int get_hardware_rev(KorvoHandle device);
KORVO_API int get_status_light(KorvoHandle device);
KORVO_API const char* get_korvo_model_type(KorvoHandle device);
KORVO_API const char* get_library_version(KorvoHandle device);
KORVO_API const char* get_vendor_string(KorvoHandle device);
KORVO_API const char* get_hardware_serial_number(KorvoHandle device);
/* Normalised motor temperatures: 0 at ambient, 1 at the warm-motor limit.
 * The first three motors, or all six (zeros for motors a model lacks). */
KORVO_API int get_korvo_temp_normalized(KorvoHandle device, float temperatures[3]);
KORVO_API int get_korvo_temp_normalized_6dof(KorvoHandle device, float temperatures[6]);

/* ------------------------------------------------------------ output */

/* Commands force x, y, z and torque x, y, z for this tick; the motors hold
 * it until the next command. The safety checks (korvo/korvo_sim.h) may
 * return KORVO_NON_FINITE_VALUE, KORVO_WARM_MOTORS,
 * KORVO_EXCEEDED_MAX_VELOCITY, KORVO_EXCEEDED_MAX_FORCE or
 * KORVO_EXCEEDED_MAX_FORCE_IMPULSE, and then hold zero force. While forces
 * are off a command is accepted and nothing is applied. */
KORVO_API int send_korvo_force_6dof(KorvoHandle device, const float forceTorque[6]);
/* Commands raw motor values in [-32768, 32767], one per motor (the first three
 * for a 3-DOF output model; the others are ignored). KORVO_OUT_OF_RANGE for a
 * value outside the range; the same warnings as send_korvo_force_6dof except
 * the maximum-force check, and no saturation. */
KORVO_API int command_motor_dac_values(KorvoHandle device, const int32_t values[6]);

/* ------------------------------------------------------------ safety */

/* Limits (positive): maximum velocity in mm/s, force kick in newtons of
 * change per tick, ramp rate in full scale per second. The enable_ calls
 * switch the checks and the ramp (0 or 1); the is_ calls report them (false
 * for an invalid handle). */
KORVO_API int set_korvo_max_velocity(KorvoHandle device, float limit);
KORVO_API int set_korvo_force_kick_safety(KorvoHandle device, float limit);
KORVO_API int set_korvo_ramp_forces_rate(KorvoHandle device, float rate);
KORVO_API int enable_korvo_velocity_check(KorvoHandle device, int enable);
KORVO_API int enable_korvo_force_check(KorvoHandle device, int enable);
KORVO_API int enable_korvo_force_kick_safety(KorvoHandle device, int enable);
KORVO_API int enable_korvo_ramp_forces(KorvoHandle device, int enable);
KORVO_API korvo_bool is_korvo_velocity_check_enabled(KorvoHandle device);
KORVO_API korvo_bool is_korvo_force_check_enabled(KorvoHandle device);
KORVO_API korvo_bool is_korvo_force_kick_safety_enabled(KorvoHandle device);
KORVO_API korvo_bool is_korvo_ramp_forces_enabled(KorvoHandle device);
/* Force saturation: true when forces over the nominal maximum are truncated to
 * it, false when they are replaced by zero. */
KORVO_API korvo_bool is_force_saturation_enabled(KorvoHandle device);
KORVO_API int truncate_force_saturation(KorvoHandle device);
KORVO_API int zero_force_saturation(KorvoHandle device);
/* Re-bases the joint encoders so that the current pose reads `angles`
 * (radians, within +-2 pi); positions follow the re-based angles. */
KORVO_API int set_joint_angle_references(KorvoHandle device, const float angles[3]);
/* The status light: override_status_light takes the light over with a state
 * 0..3 (off, on, slow blink, fast blink); restore_status_light gives it back
 * to the device; is_status_light_enabled is true while overridden;
 * get_status_light reports the state shown. */
KORVO_API int override_status_light(KorvoHandle device, int state);
KORVO_API int restore_status_light(KorvoHandle device);
KORVO_API korvo_bool is_status_light_enabled(KorvoHandle device);

/* ------------------------------------------------------------ calibration */

/* Automatic or inkwell calibration (update_calibration) and encoder reset
 * (korvo_reset) support of the model. */
KORVO_API korvo_bool is_calibration_supported(KorvoHandle device);
KORVO_API korvo_bool is_korvo_reset_supported(KorvoHandle device);
/* Writes the calibration status; returns a value >= 0 on success. Bits 4..7:
 * axes that need calibration; bits 0..3: axes that can be calibrated
 * automatically now. update_calibration clears bits 4..7
 * (KORVO_NOT_SUPPORTED without automatic or inkwell calibration,
 * KORVO_CALIBRATION_FAILED for an inkwell device whose stylus is not in the
 * inkwell); korvo_reset re-zeroes the encoders and clears them
 * (KORVO_NOT_SUPPORTED without encoder reset). */
KORVO_API int get_calibration_status(KorvoHandle device, int* status);
KORVO_API int update_calibration(KorvoHandle device);
KORVO_API int korvo_reset(KorvoHandle device);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_H */

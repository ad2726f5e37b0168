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
    KORVO_WARM_MOTORS = -1,              /* a motor is too hot; output refused, zero force applied */
    KORVO_EXCEEDED_MAX_FORCE = -2,       /* force over the nominal maximum with the force check on */
    KORVO_CONFIG_ERROR = -3,             /* device configuration is invalid */
    KORVO_DEVICE_FAULT = -4,             /* the device reports a fault */
    KORVO_INVALID_ARGUMENT = -5,         /* null pointer or wrong size */
    KORVO_NON_FINITE_VALUE = -6,         /* a NaN or infinite force, torque or value; zero force applied */
    KORVO_EXCEEDED_MAX_FORCE_IMPULSE = -7, /* force changed faster than the impulse limit */
    KORVO_AMPLIFIER_FAULT = -8,
    KORVO_OUT_OF_RANGE = -9,             /* an argument outside its accepted range */
    KORVO_ENCODER_FAULT = -10,
    KORVO_INVALID_HANDLE = -11,          /* not a handle of an open device */
    KORVO_POWER_FAULT = -12,
    KORVO_EXCEEDED_MAX_VELOCITY = -13,   /* stylus faster than the velocity limit with the check on */
    KORVO_NOT_SUPPORTED = -14,           /* the device model lacks the feature */
    KORVO_INVALID_INDEX = -15,           /* button or motor index out of range */
    KORVO_DEVICE_NOT_PRESENT = -16,      /* no device is connected */
    KORVO_COMM_ERROR = -17,
    KORVO_COMM_TIMEOUT = -18,
    KORVO_COMM_LOST = -19,               /* the device was disconnected */
    KORVO_DEVICE_NOT_FOUND = -20,        /* no device of that name */
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
    KORVO_SERVO_TIMER_FAILED = -1,       /* the timer could not be started or kept */
    KORVO_SERVO_ALREADY_RUNNING = -2,
    KORVO_SERVO_BAD_RATE = -3,           /* rate outside KORVO_MIN_SERVO_RATE..KORVO_MAX_SERVO_RATE */
    KORVO_SERVO_NOT_INITIALISED = -4,    /* initOSExtender was not called */
    KORVO_SERVO_OVERRUN = -5,            /* a tick finished after the next one was due */
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
 * handle (>= 0) or a negative device code. Opening a device that is already
 * open returns its existing handle. */
KORVO_API int init_korvo(const char* name);
/* Closes the device; its handle becomes invalid. */
KORVO_API int disable_korvo(KorvoHandle device);
/* Prepares the process for the servo loop; call once before any servo-loop
 * call. Returns a servo-loop code. Later calls succeed and do nothing. */
KORVO_API int initOSExtender(void);

/* ------------------------------------------------------------ servo loop */

/* Register the callbacks run on the servo thread before and after the servo
 * callback of every tick, and the callback that receives servo-loop error
 * codes (overruns, timer failures). A null function clears the callback. */
KORVO_API int setPreServoCallback(KorvoServoCallback callback, void* context);
KORVO_API int setPostServoCallback(KorvoServoCallback callback, void* context);
KORVO_API int setServoErrorCallback(KorvoServoErrorCallback callback, void* context);
/* Starts the servo thread, which calls pre, servo and post once per tick at
 * the servo rate. Returns a servo-loop code. */
KORVO_API int startServoLoop(KorvoServoCallback callback, void* context);
/* Stops the servo thread and waits until it has ended (a call from the servo
 * thread itself only requests the stop). */
KORVO_API int stopServoLoop(void);
/* Sets the tick rate in ticks per second; returns a servo-loop code. */
KORVO_API int setServoLoopRate(unsigned int rate);
/* Time in seconds at which the current (or last) tick started, measured from
 * the start of the loop. */
KORVO_API double getServoLoopTimeStamp(void);

/* ------------------------------------------------------------ per tick */

/* Latches fresh sensor data, which all reads return until the next update. */
KORVO_API int update_korvo(KorvoHandle device);
/* 1 when the amplifiers are on, 0 when off, a negative code on failure. */
KORVO_API int is_korvo_forces_enabled(KorvoHandle device);
KORVO_API int enable_korvo_forces(KorvoHandle device);
KORVO_API int disable_korvo_forces(KorvoHandle device);

/* ------------------------------------------------------------ reads */

KORVO_API int get_korvo_pos(KorvoHandle device, float position[3]);
KORVO_API int get_korvo_vel(KorvoHandle device, float velocity[3]);
/* Linear velocity, then angular velocity (radians per second). */
KORVO_API int get_korvo_vel_6dof(KorvoHandle device, float velocity[6]);
/* Joint angles of the three arm joints. */
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
KORVO_API double get_pinch_value(KorvoHandle device);
/* Nonzero when button `index` (0..2) is pressed; 0 for an index the model
 * lacks; KORVO_INVALID_HANDLE for an invalid handle. */
KORVO_API int get_stylus_switch(KorvoHandle device, int index);
/* Safety switch (stylus presence) and inkwell switch: nonzero = on. */
KORVO_API int get_stylus_presence(KorvoHandle device);
KORVO_API int get_inkwell_switch(KorvoHandle device);

/* ------------------------------------------------------------ facts */

/* Writes the 24-int32 information record; `size` must be at least
 * KORVO_INFO_SIZE. */
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
/* Normalised motor temperatures: 0 at ambient, 1 at the warm-motor limit. */
KORVO_API int get_korvo_temp_normalized(KorvoHandle device, float temperatures[3]);
KORVO_API int get_korvo_temp_normalized_6dof(KorvoHandle device, float temperatures[6]);

/* ------------------------------------------------------------ output */

/* Commands force x, y, z and torque x, y, z for this tick. */
KORVO_API int send_korvo_force_6dof(KorvoHandle device, const float forceTorque[6]);
/* Commands raw motor values in [-32768, 32767], one per motor (the first three
 * for a 3-DOF output model). */
KORVO_API int command_motor_dac_values(KorvoHandle device, const int32_t values[6]);

/* ------------------------------------------------------------ safety */

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
KORVO_API int set_joint_angle_references(KorvoHandle device, const float angles[3]);
KORVO_API int override_status_light(KorvoHandle device, int state);
KORVO_API int restore_status_light(KorvoHandle device);
KORVO_API korvo_bool is_status_light_enabled(KorvoHandle device);

/* ------------------------------------------------------------ calibration */

KORVO_API korvo_bool is_calibration_supported(KorvoHandle device);
KORVO_API korvo_bool is_korvo_reset_supported(KorvoHandle device);
/* Writes the calibration status; returns a value >= 0 on success. */
KORVO_API int get_calibration_status(KorvoHandle device, int* status);
KORVO_API int update_calibration(KorvoHandle device);
KORVO_API int korvo_reset(KorvoHandle device);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_H */

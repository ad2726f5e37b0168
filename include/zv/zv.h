/*
 * zv: the device library of the force-feedback SDK.
 *
 * Overview
 *  - Devices. zvInitDevice opens a haptic device by name and makes it the
 *    calling thread's current device; every call that concerns a device acts
 *    on the calling thread's current device (zvMakeCurrentDevice,
 *    zvGetCurrentDevice). zvDisableDevice closes it.
 *  - Errors. No function returns an error code. Failures push a ZVErrorInfo
 *    record on one process-wide error stack, which the application drains
 *    with zvGetError (newest first); zvGetErrorString gives the message of a
 *    code. Errors of the scheduler/communication class (ZV_COMM_ERROR,
 *    ZV_COMM_CONFIG_ERROR, ZV_TIMER_ERROR, ZV_INVALID_PRIORITY,
 *    ZV_SCHEDULER_FULL) and of the device-warning class (ZV_WARM_MOTORS,
 *    ZV_EXCEEDED_MAX_FORCE, ZV_EXCEEDED_MAX_VELOCITY, ZV_FORCE_ERROR) are
 *    reported once and then suppressed until a servo tick has passed in which
 *    no error was raised and the stack was empty. This holds for argument
 *    errors of the scheduler class too: a second bad priority, a second call
 *    on a full scheduler, a second refused rate or a second unknown device
 *    name raises nothing until such a tick has passed (without a running
 *    servo loop, until the loop runs). The functions below mark these
 *    errors "suppressed class".
 *  - Servo scheduler. zvStartScheduler starts the servo loop of the device
 *    I/O library. Callbacks scheduled with zvScheduleAsynchronous run once
 *    per tick on the servo thread, in descending priority, until they return
 *    ZV_CALLBACK_DONE or are unscheduled; zvScheduleSynchronous runs a
 *    callback once and returns when it has finished. Each tick runs, in this
 *    order: the reset of the tick error counter, the client callbacks from
 *    priority 65535 down to 0, one update operation per open device, and the
 *    end-of-tick error bookkeeping.
 *  - Frames. Inside a callback, zvBeginFrame takes a snapshot of the device
 *    (position, velocity, transform, buttons, switches, encoders, ...) and
 *    zvEndFrame sends the force, torque or motor DAC values commanded in
 *    between. Frames nest; only the outermost begin and end do work.
 *  - Parameters. Every value is read and written through typed calls keyed
 *    by a parameter code (zvGetDoublev(ZV_CURRENT_POSITION, p), ...), and
 *    switches through zvEnable / zvDisable / zvIsEnabled. Values of
 *    double-native parameters convert to the other numeric types: to int and
 *    long by truncation toward zero (saturating at the type's range, NaN
 *    gives 0), to float by rounding to nearest.
 *  - Calibration. zvCheckCalibration and zvUpdateCalibration.
 *
 * Threads: unless a function says otherwise it may be called from any thread,
 * client threads and scheduler callbacks alike. The library's own state (error
 * stack, device registry, device states, scheduler) is guarded internally.
 *
 * Units are those of the device I/O library: millimetres, newtons, seconds,
 * radians.
 */
#ifndef ZV_ZV_H
#define ZV_ZV_H

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ types */

typedef unsigned int HZV;               /* device handle */
typedef unsigned int ZVenum;            /* parameter or capability code */
typedef unsigned int ZVerror;           /* error code */
typedef unsigned int ZVSchedulerHandle; /* one scheduled operation (see zvScheduleAsynchronous) */
typedef unsigned int ZVCallbackCode;    /* ZV_CALLBACK_DONE or ZV_CALLBACK_CONTINUE */

typedef double ZVdouble;
typedef float ZVfloat;
typedef int ZVint;
typedef int ZVlong; /* 32-bit */
typedef unsigned char ZVboolean;
typedef const char* ZVstring;

/* The error record: the code, the raw code reported by the device I/O library
 * or its servo loop (0 when the error did not come from there), and the
 * device that was current on the thread that raised the error. */
typedef struct ZVErrorInfo {
    ZVerror errorCode;
    int internalErrorCode;
    HZV deviceHandle;
} ZVErrorInfo;

/* A scheduler callback. Returns ZV_CALLBACK_DONE to finish or
 * ZV_CALLBACK_CONTINUE to run again at the next tick. */
typedef ZVCallbackCode (*ZVSchedulerCallback)(void* pUserData);

/* ------------------------------------------------------------------ constants */

#define ZV_INVALID_HANDLE 0xFFFFFFFFu
#define ZV_DEFAULT_DEVICE ((const char*)0)

#define ZV_TRUE 1
#define ZV_FALSE 0

/* Error codes */
#define ZV_SUCCESS 0x0000
#define ZV_INVALID_ENUM 0x0100
#define ZV_INVALID_VALUE 0x0101
#define ZV_INVALID_OPERATION 0x0102
#define ZV_INVALID_INPUT_TYPE 0x0103
#define ZV_BAD_HANDLE 0x0104
#define ZV_WARM_MOTORS 0x0200
#define ZV_EXCEEDED_MAX_FORCE 0x0201
#define ZV_EXCEEDED_MAX_FORCE_IMPULSE 0x0202
#define ZV_EXCEEDED_MAX_VELOCITY 0x0203
#define ZV_FORCE_ERROR 0x0204
#define ZV_DEVICE_FAULT 0x0300
#define ZV_DEVICE_ALREADY_INITIATED 0x0301
#define ZV_COMM_ERROR 0x0302
#define ZV_COMM_CONFIG_ERROR 0x0303
#define ZV_TIMER_ERROR 0x0304
#define ZV_ILLEGAL_BEGIN 0x0400
#define ZV_ILLEGAL_END 0x0401
#define ZV_FRAME_ERROR 0x0402
#define ZV_INVALID_PRIORITY 0x0500
#define ZV_SCHEDULER_FULL 0x0501

/* Scheduler priorities, callback results and wait modes */
#define ZV_MIN_SCHEDULER_PRIORITY 0
#define ZV_MAX_SCHEDULER_PRIORITY 0xFFFF
#define ZV_DEFAULT_SCHEDULER_PRIORITY 0x7FFF
#define ZV_CALLBACK_DONE 0
#define ZV_CALLBACK_CONTINUE 1
#define ZV_WAIT_CHECK_STATUS 0
#define ZV_WAIT_INFINITE 1

/* Parameter codes.
 *
 * Every code reads or writes a fixed number of values; the array passed must
 * hold at least that many (an undersized array is overwritten past its end).
 * Types: d = zvGetDoublev/zvSetDoublev, f = Floatv, i = Integerv, l = Longv,
 * b = Booleanv; a call with another type answers ZV_INVALID_INPUT_TYPE.
 * "DOF" counts are the device's output DOF, 3 or 6 (ZV_OUTPUT_DOF).
 *
 * Read only (snapshot, information and raw parameters): zvSet*v answers
 * ZV_INVALID_ENUM. Written by zvSet*v: ZV_CURRENT_FORCE, ZV_CURRENT_TORQUE,
 * ZV_CURRENT_MOTOR_DAC_VALUES (inside a frame), ZV_MAX_VELOCITY_LIMIT,
 * ZV_MAX_FORCE_IMPULSE_LIMIT, ZV_FORCE_RAMPING_RATE, ZV_USER_STATUS_LIGHT and
 * ZV_JOINT_ANGLE_REFERENCES (which is set only: zvGet*v answers
 * ZV_INVALID_ENUM). No parameter is written as booleans: zvSetBooleanv
 * answers ZV_INVALID_INPUT_TYPE for the writable codes above and
 * ZV_INVALID_ENUM for every other code, the boolean switches included. The
 * capability codes (ZV_FORCE_OUTPUT ... ZV_ONE_FRAME_LIMIT) are not
 * parameters: zvGet*v and zvSet*v answer ZV_INVALID_ENUM for them.
 *
 * Snapshot parameters: ZV_CURRENT_* is the value of the current frame,
 * ZV_LAST_* that of the previous frame, taken at the outermost zvBeginFrame.
 *   BUTTONS             1 value, dfil: bit k set while button k is pressed
 *   SAFETY_SWITCH       1 value, b: the stylus presence switch
 *   INKWELL_SWITCH      1 value, b: the stylus is in its inkwell
 *   ENCODER_VALUES      6 values, l, on every model: encoder counts of the
 *                       three arm joints, then the three gimbal joints (0
 *                       without gimbal encoders)
 *   PINCH_VALUE         1 value, dfil: the pinch sensor, 0..1
 *   POSITION            3 values, dfil: mm
 *   VELOCITY            3 values, dfil: mm/s
 *   TRANSFORM           16 values, dfil: the stylus transform, 4x4
 *                       column-major, translation (mm) in elements 12..14
 *   ANGULAR_VELOCITY    3 values, dfil: rad/s (zeros for 3-DOF input)
 *   JACOBIAN            36 values, dfil: 6x6 row-major; rows x, y, z, rx, ry,
 *                       rz; columns the arm joints, then the gimbal joints
 *   JOINT_ANGLES        3 values, dfil: rad (base, shoulder, elbow)
 *   GIMBAL_ANGLES       3 values, dfil: rad (zeros for 3-DOF input)
 *   FORCE               3 values, dfi: N; ZV_CURRENT_FORCE is also set
 *   TORQUE              3 values, dfi: N mm; ZV_CURRENT_TORQUE is also set
 *   MOTOR_DAC_VALUES    DOF values (3 or 6), l: motor values, -32768..32767;
 *                       ZV_CURRENT_MOTOR_DAC_VALUES is also set
 */
#define ZV_CURRENT_BUTTONS 0x2000
#define ZV_CURRENT_SAFETY_SWITCH 0x2001
#define ZV_CURRENT_INKWELL_SWITCH 0x2002
#define ZV_CURRENT_ENCODER_VALUES 0x2010
#define ZV_CURRENT_PINCH_VALUE 0x2011
#define ZV_LAST_PINCH_VALUE 0x2012
#define ZV_CURRENT_POSITION 0x2050
#define ZV_CURRENT_VELOCITY 0x2051
#define ZV_CURRENT_TRANSFORM 0x2052
#define ZV_CURRENT_ANGULAR_VELOCITY 0x2053
#define ZV_CURRENT_JACOBIAN 0x2054
#define ZV_CURRENT_JOINT_ANGLES 0x2100
#define ZV_CURRENT_GIMBAL_ANGLES 0x2150
#define ZV_LAST_BUTTONS 0x2200
#define ZV_LAST_SAFETY_SWITCH 0x2201
#define ZV_LAST_INKWELL_SWITCH 0x2202
#define ZV_LAST_ENCODER_VALUES 0x2210
#define ZV_LAST_POSITION 0x2250
#define ZV_LAST_VELOCITY 0x2251
#define ZV_LAST_TRANSFORM 0x2252
#define ZV_LAST_ANGULAR_VELOCITY 0x2253
#define ZV_LAST_JACOBIAN 0x2254
#define ZV_LAST_JOINT_ANGLES 0x2300
#define ZV_LAST_GIMBAL_ANGLES 0x2350
#define ZV_CURRENT_FORCE 0x2700
#define ZV_CURRENT_TORQUE 0x2701
#define ZV_CURRENT_MOTOR_DAC_VALUES 0x2750
#define ZV_LAST_FORCE 0x2800
#define ZV_LAST_TORQUE 0x2801
#define ZV_LAST_MOTOR_DAC_VALUES 0x2850

/* Device information and settings. Read only unless marked.
 *   VERSION, DEVICE_MODEL_TYPE, DEVICE_DRIVER_VERSION, DEVICE_VENDOR,
 *   DEVICE_SERIAL_NUMBER    strings (zvGetString only); ZV_VERSION needs no
 *                           device
 *   DEVICE_HARDWARE_REVISION        1 value, dfil
 *   USABLE_WORKSPACE_DIMENSIONS,
 *   MAX_WORKSPACE_DIMENSIONS        6 values, dfil: mm; low x, low y, low z,
 *                                   high x, high y, high z
 *   TABLETOP_OFFSET                 1 value, dfil: mm
 *   INPUT_DOF, OUTPUT_DOF           1 value, dfil: 3 or 6
 *   CALIBRATION_STYLE               1 value, i: ZV_CALIBRATION_* bits
 *   UPDATE_RATE,
 *   INSTANTANEOUS_UPDATE_RATE       1 value, dfil: ticks per second
 *   NOMINAL_MAX_STIFFNESS           1 value, dfil: N/mm
 *   NOMINAL_MAX_DAMPING             1 value, dfil: N s/mm
 *   NOMINAL_MAX_FORCE,
 *   NOMINAL_MAX_CONTINUOUS_FORCE    1 value, dfil: N
 *   NOMINAL_MAX_TORQUE_STIFFNESS    1 value, dfil: N mm/rad
 *   NOMINAL_MAX_TORQUE_DAMPING      1 value, dfil: N mm s/rad
 *   NOMINAL_MAX_TORQUE_FORCE,
 *   NOMINAL_MAX_TORQUE_CONTINUOUS_FORCE  1 value, dfil: N mm (0 without
 *                                   gimbal motors)
 *   MOTOR_TEMPERATURE               DOF values (3 or 6), dfil: 0 at ambient,
 *                                   1 at the warm-motor limit
 *   MAX_VELOCITY_LIMIT              1 value: mm/s; read df, written dfil
 *   MAX_FORCE_IMPULSE_LIMIT         1 value: N of change per tick; read df,
 *                                   written dfil
 *   FORCE_RAMPING_RATE              1 value, dfil, read and written: full
 *                                   scale per second
 *   JOINT_ANGLE_REFERENCES          3 values, dfi, written only: rad; the
 *                                   current pose is re-based to these angles
 *   USER_STATUS_LIGHT               1 value, i, read and written: 0 off, 1 on,
 *                                   2 slow blink, 3 fast blink (writing takes
 *                                   the light over; zvDisable gives it back)
 */
#define ZV_VERSION 0x2500
#define ZV_DEVICE_MODEL_TYPE 0x2501
#define ZV_DEVICE_DRIVER_VERSION 0x2502
#define ZV_DEVICE_VENDOR 0x2503
#define ZV_DEVICE_SERIAL_NUMBER 0x2504
#define ZV_DEVICE_HARDWARE_REVISION 0x2505
#define ZV_USABLE_WORKSPACE_DIMENSIONS 0x2550
#define ZV_MAX_WORKSPACE_DIMENSIONS 0x2551
#define ZV_TABLETOP_OFFSET 0x2552
#define ZV_INPUT_DOF 0x2553
#define ZV_OUTPUT_DOF 0x2554
#define ZV_CALIBRATION_STYLE 0x2555
#define ZV_UPDATE_RATE 0x2600
#define ZV_INSTANTANEOUS_UPDATE_RATE 0x2601
#define ZV_NOMINAL_MAX_STIFFNESS 0x2602
#define ZV_NOMINAL_MAX_FORCE 0x2603
#define ZV_NOMINAL_MAX_CONTINUOUS_FORCE 0x2604
#define ZV_MOTOR_TEMPERATURE 0x2605
#define ZV_MAX_VELOCITY_LIMIT 0x2606
#define ZV_MAX_FORCE_IMPULSE_LIMIT 0x2607
#define ZV_FORCE_RAMPING_RATE 0x2608
#define ZV_NOMINAL_MAX_DAMPING 0x2609
#define ZV_NOMINAL_MAX_TORQUE_STIFFNESS 0x2620
#define ZV_NOMINAL_MAX_TORQUE_DAMPING 0x2621
#define ZV_NOMINAL_MAX_TORQUE_FORCE 0x2622
#define ZV_NOMINAL_MAX_TORQUE_CONTINUOUS_FORCE 0x2623
#define ZV_JOINT_ANGLE_REFERENCES 0x2702
#define ZV_USER_STATUS_LIGHT 0x2900

/* Capabilities (zvEnable, zvDisable, zvIsEnabled). ZV_MAX_VELOCITY_LIMIT,
 * ZV_MAX_FORCE_IMPULSE_LIMIT and ZV_USER_STATUS_LIGHT are capabilities too. */
#define ZV_FORCE_OUTPUT 0x4000
#define ZV_MAX_FORCE_CLAMPING 0x4001
#define ZV_FORCE_RAMPING 0x4002
#define ZV_FORCE_CHECK 0x4003
#define ZV_ONE_FRAME_LIMIT 0x4004

/* Raw device reads behind the frame snapshot, read only, taken from the
 * device at the call: FORCE_CLEAR and TORQUE_CLEAR 3 doubles (zeros),
 * POSITION, VELOCITY, ANGULAR_VELOCITY, JOINT_ANGLES, GIMBAL_ANGLES 3
 * doubles, TRANSFORM 16 doubles, JACOBIAN 36 doubles, PINCH_VALUE 1 double
 * (all d only, units as in the snapshot); BUTTONS, SAFETY_SWITCH,
 * INKWELL_SWITCH 1 int (i only); ENCODER_VALUES and MOTOR_DAC_CLEAR (zeros)
 * 6 longs (l only). */
#define ZV_RAW_FORCE_CLEAR 0x9900
#define ZV_RAW_TORQUE_CLEAR 0x9901
#define ZV_RAW_POSITION 0x9902
#define ZV_RAW_VELOCITY 0x9904
#define ZV_RAW_ANGULAR_VELOCITY 0x9905
#define ZV_RAW_BUTTONS 0x9906
#define ZV_RAW_JOINT_ANGLES 0x9907
#define ZV_RAW_GIMBAL_ANGLES 0x9908
#define ZV_RAW_ENCODER_VALUES 0x990a
#define ZV_RAW_TRANSFORM 0x990b
#define ZV_RAW_MOTOR_DAC_CLEAR 0x990c
#define ZV_RAW_SAFETY_SWITCH 0x990d
#define ZV_RAW_INKWELL_SWITCH 0x990e
#define ZV_RAW_JACOBIAN 0x990f
#define ZV_RAW_PINCH_VALUE 0x9910

/* Calibration styles (bits of ZV_CALIBRATION_STYLE) and check results */
#define ZV_CALIBRATION_ENCODER_RESET 0x1
#define ZV_CALIBRATION_AUTO 0x2
#define ZV_CALIBRATION_INKWELL 0x4
#define ZV_CALIBRATION_OK 0x5000
#define ZV_CALIBRATION_NEEDS_UPDATE 0x5001
#define ZV_CALIBRATION_NEEDS_MANUAL_INPUT 0x5002

/* ------------------------------------------------------------------ devices */

/* Opens a device by name (ZV_DEFAULT_DEVICE / NULL: the default device),
 * registers it, schedules its per-tick update operation and makes it the
 * calling thread's current device. Returns its handle, or ZV_INVALID_HANDLE.
 * Errors: the translated device I/O code when the device cannot be opened
 * (for example ZV_DEVICE_FAULT; ZV_COMM_CONFIG_ERROR for an unknown name,
 * suppressed class); ZV_DEVICE_ALREADY_INITIATED when it is open already;
 * when its update operation cannot be scheduled, ZV_SCHEDULER_FULL
 * (suppressed class) then ZV_DEVICE_ALREADY_INITIATED, and the device is
 * closed and not registered. On failure the current device is unchanged.
 * Threads: any client thread. */
ZV_API HZV zvInitDevice(const char* pConfigName);

/* Closes a device; if it is registered, unschedules its update operation (the
 * library only ever removes its own operation, never a client's; the removal
 * needs no free scheduler slot and waits for no tick) and forgets its state.
 * The calling thread's current device is not changed.
 * Errors: ZV_DEVICE_FAULT when the I/O library fails to close it;
 * ZV_INVALID_OPERATION when the update operation is gone already (it ends by
 * itself once its device is no longer registered). The registration is
 * removed in every case. Threads: any client thread. */
ZV_API void zvDisableDevice(HZV hDevice);

/* Makes a handle the calling thread's current device, unchecked.
 * Errors: none. Threads: any. */
ZV_API void zvMakeCurrentDevice(HZV hDevice);

/* The calling thread's current device; ZV_INVALID_HANDLE when none was made
 * current on this thread. Errors: none. Threads: any. */
ZV_API HZV zvGetCurrentDevice(void);

/* ------------------------------------------------------------------ errors */

/* Pops the newest error record; {ZV_SUCCESS, 0, 0} when the stack is empty.
 * The stack keeps the newest 1024 records: when it is full, raising a new
 * record drops the oldest one. Errors: none. Threads: any. */
ZV_API ZVErrorInfo zvGetError(void);

/* Pops the newest error record raised for one device, leaving the records of
 * other devices (and those raised without a device) on the stack in their
 * order; {ZV_SUCCESS, 0, 0} when the stack holds none for that device. A
 * library or program that services one device uses it so that it never
 * takes another device's errors, or the application's, off the stack.
 * Errors: none. Threads: any (the servo thread included: it takes one short
 * lock and does not allocate). */
ZV_API ZVErrorInfo zvGetDeviceError(HZV hDevice);

/* The message of an error code; "" for an unknown code, never NULL.
 * Errors: none. Threads: any. */
ZV_API const char* zvGetErrorString(ZVerror errorCode);

/* ------------------------------------------------------------------ scheduler */

/* Starts the servo loop: initialises the I/O library's servo support once per
 * process, registers the tick handlers and the error bookkeeping operations,
 * and starts the loop. Calling it while the loop runs schedules nothing twice.
 * Errors (ZV_TIMER_ERROR and ZV_SCHEDULER_FULL are of the suppressed class):
 * ZV_TIMER_ERROR (raw servo code kept) when the servo support cannot
 * be initialised or the loop cannot be started (then the bookkeeping
 * operations scheduled by this call are removed again), and with the raw
 * code KORVO_SERVO_ALREADY_RUNNING when the loop runs already or the caller
 * is a scheduler callback; ZV_SCHEDULER_FULL.
 * Threads: any client thread, several at once (see zvStopScheduler). */
ZV_API void zvStartScheduler(void);

/* Stops the servo loop and removes the error bookkeeping operations. Client
 * operations and device update operations stay scheduled and run again after
 * the next zvStartScheduler. Synchronous calls and infinite waits that are
 * waiting for a tick return (see zvScheduleSynchronous).
 * Errors: ZV_TIMER_ERROR when the servo support cannot be initialised.
 * Threads: any client thread, several at once (starts and stops take effect
 * one after another), and scheduler callbacks. From a callback the loop ends
 * after the current tick and the call does not wait for that; waiters are
 * released at once. */
ZV_API void zvStopScheduler(void);

/* Whether the servo loop is running: started by zvStartScheduler and not
 * stopped since. A library that needs the loop for its own callbacks starts
 * it only when it is not running, and then stops only what it started.
 * Errors: none. Threads: any. */
ZV_API ZVboolean zvIsSchedulerRunning(void);

/* Sets the servo rate in ticks per second; the I/O library decides which rates
 * it accepts. Errors: ZV_TIMER_ERROR (raw code kept; suppressed class) when it
 * refuses the rate.
 * Threads: any client thread. */
ZV_API void zvSetSchedulerRate(unsigned int rate);

/* Time in seconds at which the current (or last) servo tick started.
 * Errors: none. Threads: any. */
ZV_API double zvGetSchedulerTimeStamp(void);

/* Runs a callback once on the servo thread and returns when it has finished.
 * Priority 0..65535 (higher runs earlier in a tick). When no tick is in
 * progress - the loop is not started, or it is between two ticks - or when the
 * caller is a scheduler callback, the callback runs at once on the calling
 * thread, never at the same time as a tick. If it returns ZV_CALLBACK_CONTINUE
 * it is queued and runs at following ticks until it returns ZV_CALLBACK_DONE.
 * A synchronous call never waits for a tick that cannot come: when the
 * callback asks to continue while no servo loop is running, or the caller is
 * the servo thread or itself a synchronous callback, the callback has run
 * once, it is not kept, and ZV_INVALID_OPERATION is raised; when the servo
 * loop is stopped while the call waits, the callback is removed unrun and
 * ZV_INVALID_OPERATION is raised. The callback runs with the caller's current
 * device as its current device. A callback that runs on a client thread holds
 * off the next tick while it runs, so it must be short and must not call
 * zvStopScheduler (the stop would wait for the held-off tick).
 * Errors: ZV_INVALID_PRIORITY (priority above 65535; suppressed class),
 * ZV_INVALID_VALUE (null callback), ZV_SCHEDULER_FULL (1000 operations are
 * scheduled; suppressed class), ZV_INVALID_OPERATION (above). Threads: any. */
ZV_API void zvScheduleSynchronous(ZVSchedulerCallback pCallback, void* pUserData, unsigned int nPriority);

/* Schedules a callback that runs once per tick on the servo thread, with the
 * caller's current device as its current device, until it returns
 * ZV_CALLBACK_DONE or is unscheduled. Returns its handle or ZV_INVALID_HANDLE.
 * At most 1000 operations are scheduled at once. A handle names this one
 * operation: the first 1000 handles are 0..999, and once an operation has
 * finished or been removed its handle names nothing, also after its slot has
 * been given to a later operation (handle modulo 1000 is the slot; a slot's
 * handles repeat only after about two million reuses of that slot, and free
 * slots are reused least recently freed first).
 * Errors: ZV_INVALID_PRIORITY (suppressed class), ZV_INVALID_VALUE (null
 * callback), ZV_SCHEDULER_FULL (suppressed class). Threads: any. */
ZV_API ZVSchedulerHandle zvScheduleAsynchronous(ZVSchedulerCallback pCallback, void* pUserData, unsigned int nPriority);

/* Removes a scheduled operation. The removal itself runs as a synchronous
 * operation at priority 0, so with a servo loop running the call returns after
 * the next tick. Errors: ZV_INVALID_OPERATION when no operation has that
 * handle (it has finished or been removed, or was never given out), or when
 * the handle names one of the library's own operations (tick bookkeeping, a
 * device's update operation), which only the library removes. Threads: any. */
ZV_API void zvUnschedule(ZVSchedulerHandle hHandle);

/* ZV_WAIT_CHECK_STATUS (or any mode but ZV_WAIT_INFINITE): returns true while
 * an operation with that handle is scheduled; never blocks.
 * ZV_WAIT_INFINITE: blocks until the operation completes and returns true;
 * returns false at once when no operation has that handle. The wait never
 * outlives the servo loop: it returns false when no loop is running or the
 * loop stops before the operation completes, and from the servo thread or a
 * synchronous callback (which would wait for itself) it does not block and
 * returns false, raising ZV_INVALID_OPERATION, unless the operation has
 * already completed. Threads: any. */
ZV_API ZVboolean zvWaitForCompletion(ZVSchedulerHandle hHandle, unsigned int param);

/* ------------------------------------------------------------------ frames */

/* Makes the device current, then opens a frame. The outermost begin switches
 * the amplifiers to the wanted ZV_FORCE_OUTPUT state, latches fresh device
 * data and refreshes the snapshot (the current values become the last
 * values); nested begins only count.
 * Errors: ZV_BAD_HANDLE (device not registered; nothing done),
 * ZV_ILLEGAL_BEGIN (a second frame in one tick with ZV_ONE_FRAME_LIMIT
 * enabled), translated device codes of the reads. Threads: meant for
 * scheduler callbacks; any thread is accepted. */
ZV_API void zvBeginFrame(HZV hDevice);

/* Makes the device current, then closes a frame. The outermost end sends the
 * commanded force and torque (zero when nothing was commanded) or the motor
 * DAC values, when the amplifiers are on. A maximum-force, maximum-velocity or
 * device-fault report switches the amplifiers off until the next outermost
 * begin. Errors: ZV_BAD_HANDLE, ZV_ILLEGAL_END (no open frame), ZV_FORCE_ERROR
 * (force or torque and DAC values in one frame; nothing is sent), translated
 * device codes of the output. Threads: as zvBeginFrame. */
ZV_API void zvEndFrame(HZV hDevice);

/* ------------------------------------------------------------------ parameters */

/* Typed reads of a parameter of the current device into an array of the named
 * type, sized for the parameter's value count (see "Parameter codes" for the
 * count, the types and the unit of each code). Arguments are checked in this
 * order: ZV_INVALID_ENUM (unknown code, a capability code or the set-only
 * ZV_JOINT_ANGLE_REFERENCES), ZV_INVALID_INPUT_TYPE (the parameter does not
 * support the type), ZV_INVALID_VALUE (null array), ZV_BAD_HANDLE
 * (the current device is not registered; every parameter but ZV_VERSION
 * needs one); in all these cases nothing is written. A failing device read
 * raises its translated code; the array is written anyway.
 * Threads: any. */
ZV_API void zvGetBooleanv(ZVenum pname, ZVboolean* params);
ZV_API void zvGetIntegerv(ZVenum pname, ZVint* params);
ZV_API void zvGetFloatv(ZVenum pname, ZVfloat* params);
ZV_API void zvGetDoublev(ZVenum pname, ZVdouble* params);
ZV_API void zvGetLongv(ZVenum pname, ZVlong* params);

/* Typed writes of a parameter of the current device, with the argument checks
 * of the reads (ZV_INVALID_ENUM for every code that is not written, see
 * "Parameter codes"), and: ZV_INVALID_VALUE when a value is not finite or too
 * large for the device's single-precision values (nothing is stored or sent);
 * ZV_FRAME_ERROR when force, torque or motor DAC values are set outside a
 * frame. No parameter accepts booleans: zvSetBooleanv answers
 * ZV_INVALID_INPUT_TYPE for a writable code and ZV_INVALID_ENUM otherwise. Threads: any (force, torque and DAC
 * values inside a frame, normally in a scheduler callback). */
ZV_API void zvSetBooleanv(ZVenum pname, const ZVboolean* params);
ZV_API void zvSetIntegerv(ZVenum pname, const ZVint* params);
ZV_API void zvSetFloatv(ZVenum pname, const ZVfloat* params);
ZV_API void zvSetDoublev(ZVenum pname, const ZVdouble* params);
ZV_API void zvSetLongv(ZVenum pname, const ZVlong* params);

/* A string parameter of the current device (ZV_VERSION needs no device).
 * Returns NULL after ZV_INVALID_ENUM, ZV_INVALID_INPUT_TYPE or ZV_BAD_HANDLE.
 * Threads: any. */
ZV_API ZVstring zvGetString(ZVenum pname);

/* Switch a capability of the current device on or off. Capabilities:
 * ZV_FORCE_OUTPUT, ZV_MAX_FORCE_CLAMPING, ZV_FORCE_RAMPING, ZV_FORCE_CHECK,
 * ZV_ONE_FRAME_LIMIT, ZV_MAX_VELOCITY_LIMIT, ZV_MAX_FORCE_IMPULSE_LIMIT and
 * ZV_USER_STATUS_LIGHT. Errors: ZV_INVALID_ENUM (any other code),
 * ZV_BAD_HANDLE, translated device codes.
 * Threads: any. */
ZV_API void zvEnable(ZVenum cap);
ZV_API void zvDisable(ZVenum cap);

/* State of a capability of the current device; false after ZV_INVALID_ENUM
 * or ZV_BAD_HANDLE. Threads: any. */
ZV_API ZVboolean zvIsEnabled(ZVenum cap);

/* ------------------------------------------------------------------ calibration */

/* Whether the current device needs calibrating: ZV_CALIBRATION_OK,
 * ZV_CALIBRATION_NEEDS_UPDATE or ZV_CALIBRATION_NEEDS_MANUAL_INPUT.
 * Errors: ZV_BAD_HANDLE and translated device codes (the result is then
 * ZV_CALIBRATION_NEEDS_MANUAL_INPUT); ZV_INVALID_OPERATION when the device
 * reports neither automatic nor inkwell calibration (result
 * ZV_CALIBRATION_NEEDS_UPDATE). Threads: any. */
ZV_API unsigned int zvCheckCalibration(void);

/* Calibrates the current device in one style: ZV_CALIBRATION_ENCODER_RESET,
 * ZV_CALIBRATION_AUTO or ZV_CALIBRATION_INKWELL; any other value does nothing.
 * An encoder reset counts as done even when the device reports a failure.
 * Errors: ZV_BAD_HANDLE, translated device codes. Threads: any. */
ZV_API void zvUpdateCalibration(int style);

#ifdef __cplusplus
}
#endif

#endif /* ZV_ZV_H */

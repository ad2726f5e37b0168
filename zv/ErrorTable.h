// The device library's errors in one place: every code with its message and
// its suppression class, and the translation of the device I/O library's
// codes. Each table is an X-macro: a user defines X (and T) to expand the
// entries the way it needs.
#pragma once

#include "korvo/korvo.h"
#include "zv/zv.h"

// X(code, suppression class, message). The classes are those of
// ErrorClass: a code of a suppressed class is reported once and then dropped
// until a tick passes in which no error was raised and the stack was empty.
#define ZV_ERROR_MAP(X)                                                                                                \
    X(ZV_SUCCESS, None, "No error")                                                                                    \
    X(ZV_INVALID_ENUM, None,                                                                                           \
      "Invalid parameter of capability specified for a function that requires an ZVenum as one of its inputs.")        \
    X(ZV_INVALID_VALUE, None, "Invalid value specified for a function that is attempting to set a value.")             \
    X(ZV_INVALID_OPERATION, None, "The operation could not be performed.")                                             \
    X(ZV_INVALID_INPUT_TYPE, None, "The parameter or capability does not support the input type.")                     \
    X(ZV_BAD_HANDLE, None, "The device handle passed into an operation is not valid.")                                 \
    X(ZV_WARM_MOTORS, DeviceWarning,                                                                                   \
      "Device Warning: One or more of the device motors are warm.  Wait until the motors cool before commanding "      \
      "forces again.")                                                                                                 \
    X(ZV_EXCEEDED_MAX_FORCE, DeviceWarning, "Device warning: Device exceeded the maximum force limit.")                \
    X(ZV_EXCEEDED_MAX_FORCE_IMPULSE, None,                                                                             \
      "Device warning: Change in force magnitude and direction exceeds the maximum force impulse limit.")              \
    X(ZV_EXCEEDED_MAX_VELOCITY, DeviceWarning, "Device warning: Device exceeded the maximum velocity limit.")          \
    X(ZV_FORCE_ERROR, DeviceWarning,                                                                                   \
      "The device experienced an error in sending forces because forces of incompatible types such as DAC and "        \
      "Cartesian were commanded simultaneously.")                                                                      \
    X(ZV_DEVICE_FAULT, None, "Device fault.  Check that the device is connected properly and activated.")              \
    X(ZV_DEVICE_ALREADY_INITIATED, None, "The device name was already initialized.")                                   \
    X(ZV_COMM_ERROR, SchedulerComm, "Communication Error: Check the device connection and configuration.")             \
    X(ZV_COMM_CONFIG_ERROR, SchedulerComm,                                                                             \
      "Configuration Error: Check the base address and port/adapter number. Consult the appropriate device "           \
      "drivers documentation.")                                                                                        \
    X(ZV_TIMER_ERROR, SchedulerComm, "Unable to start or maintain the servo loop timer.")                              \
    X(ZV_ILLEGAL_BEGIN, None,                                                                                          \
      "zvBeginFrame for a device was called when already in that device's frame, or more than once during a "          \
      "single servoloop tick.")                                                                                        \
    X(ZV_ILLEGAL_END, None,                                                                                            \
      "zvEndFrame for a device was called without a matching zvBeginFrame for that device beforehand.")                \
    X(ZV_FRAME_ERROR, None, "A function that is restricted to being called within a frame was called outside of one.") \
    X(ZV_INVALID_PRIORITY, SchedulerComm,                                                                              \
      "The priority for a scheduler callback does not fall within the proper numerical bounds defined by MIN and "     \
      "MAX scheduler priority.")                                                                                       \
    X(ZV_SCHEDULER_FULL, SchedulerComm,                                                                                \
      "The scheduler has reached its limit of callbacks and cannot add the new callback.")

// T(device I/O code, device library code). A device code that is not listed
// (KORVO_* values the I/O library does not define, or new ones) becomes
// ZV_INVALID_OPERATION.
#define ZV_DEVICE_CODE_MAP(T)                                          \
    T(KORVO_OK, ZV_SUCCESS)                                            \
    T(KORVO_WARM_MOTORS, ZV_WARM_MOTORS)                               \
    T(KORVO_EXCEEDED_MAX_FORCE, ZV_EXCEEDED_MAX_FORCE)                 \
    T(KORVO_CONFIG_ERROR, ZV_COMM_CONFIG_ERROR)                        \
    T(KORVO_DEVICE_FAULT, ZV_DEVICE_FAULT)                             \
    T(KORVO_INVALID_ARGUMENT, ZV_INVALID_VALUE)                        \
    T(KORVO_NON_FINITE_VALUE, ZV_INVALID_VALUE)                        \
    T(KORVO_EXCEEDED_MAX_FORCE_IMPULSE, ZV_EXCEEDED_MAX_FORCE_IMPULSE) \
    T(KORVO_AMPLIFIER_FAULT, ZV_DEVICE_FAULT)                          \
    T(KORVO_OUT_OF_RANGE, ZV_INVALID_VALUE)                            \
    T(KORVO_ENCODER_FAULT, ZV_DEVICE_FAULT)                            \
    T(KORVO_INVALID_HANDLE, ZV_BAD_HANDLE)                             \
    T(KORVO_POWER_FAULT, ZV_DEVICE_FAULT)                              \
    T(KORVO_EXCEEDED_MAX_VELOCITY, ZV_EXCEEDED_MAX_VELOCITY)           \
    T(KORVO_NOT_SUPPORTED, ZV_INVALID_VALUE)                           \
    T(KORVO_INVALID_INDEX, ZV_INVALID_VALUE)                           \
    T(KORVO_DEVICE_NOT_PRESENT, ZV_DEVICE_FAULT)                       \
    T(KORVO_COMM_ERROR, ZV_COMM_ERROR)                                 \
    T(KORVO_COMM_TIMEOUT, ZV_COMM_ERROR)                               \
    T(KORVO_COMM_LOST, ZV_COMM_ERROR)                                  \
    T(KORVO_DEVICE_NOT_FOUND, ZV_COMM_CONFIG_ERROR)                    \
    T(KORVO_PORT_ERROR, ZV_COMM_CONFIG_ERROR)                          \
    T(KORVO_DRIVER_ERROR, ZV_COMM_CONFIG_ERROR)                        \
    T(KORVO_CALIBRATION_FAILED, ZV_COMM_CONFIG_ERROR)                  \
    T(KORVO_FIRMWARE_MISMATCH, ZV_COMM_CONFIG_ERROR)                   \
    T(KORVO_DEVICE_TIMER_ERROR, ZV_TIMER_ERROR)                        \
    T(KORVO_COMM_OVERRUN, ZV_COMM_ERROR)                               \
    T(KORVO_TOO_MANY_DEVICES, ZV_COMM_CONFIG_ERROR)                    \
    T(KORVO_DEVICE_BUSY, ZV_COMM_CONFIG_ERROR)                         \
    T(KORVO_CONFIG_READ_ERROR, ZV_COMM_CONFIG_ERROR)                   \
    T(KORVO_INTERNAL_ERROR, ZV_COMM_CONFIG_ERROR)

// T(servo-loop code, device library code). Every failure of the servo loop is
// a timer error; an unlisted code becomes ZV_INVALID_OPERATION.
#define ZV_SERVO_CODE_MAP(T)                       \
    T(KORVO_SERVO_OK, ZV_SUCCESS)                  \
    T(KORVO_SERVO_TIMER_FAILED, ZV_TIMER_ERROR)    \
    T(KORVO_SERVO_ALREADY_RUNNING, ZV_TIMER_ERROR) \
    T(KORVO_SERVO_BAD_RATE, ZV_TIMER_ERROR)        \
    T(KORVO_SERVO_NOT_INITIALISED, ZV_TIMER_ERROR) \
    T(KORVO_SERVO_OVERRUN, ZV_TIMER_ERROR)         \
    T(KORVO_SERVO_THREAD_FAILED, ZV_TIMER_ERROR)   \
    T(KORVO_SERVO_NO_CALLBACK, ZV_TIMER_ERROR)     \
    T(KORVO_SERVO_NOT_RUNNING, ZV_TIMER_ERROR)

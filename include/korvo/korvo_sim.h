/*
 * Control interface of the simulated haptic devices.
 *
 * The device I/O library (korvo/korvo.h) shipped with the SDK drives simulated
 * devices. This header is for the other side of the simulation: tests and
 * tools that move the virtual hand, press buttons, inject faults, run the servo
 * loop tick by tick on a manual clock and read back what the device really did.
 * Programs written against korvo.h (or zv.h) need none of it.
 *
 * All functions return 0 on success and a negative code otherwise (the device
 * codes of korvo.h, or the KORVO_SIM_E_* codes below); on failure they write
 * nothing. They may be called from any thread unless stated otherwise.
 */
#ifndef KORVO_KORVO_SIM_H
#define KORVO_KORVO_SIM_H

#include <stdint.h>

#include "korvo/korvo.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KORVO_SIM_E_NOT_RUNNING = -101,  /* no servo loop has been started */
    KORVO_SIM_E_NOT_MANUAL = -102,   /* the clock is not manual */
    KORVO_SIM_E_BUSY = -103,         /* not allowed while the servo loop runs */
    KORVO_SIM_E_WRONG_THREAD = -104, /* not allowed on the servo thread */
    KORVO_SIM_E_FILE = -105,         /* a file could not be opened, read or written */
    KORVO_SIM_E_PARSE = -106         /* a trajectory file is malformed */
};

/* ------------------------------------------------------------ clock */

/* Selects the manual clock (on != 0) or real time (0). With the manual clock
 * a started servo loop runs ticks only when korvo_sim_run_ticks asks for them,
 * as fast as possible, and simulated time advances by one period per tick.
 * Only while no servo loop runs (KORVO_SIM_E_BUSY otherwise). */
KORVO_API int korvo_sim_set_manual_clock(int on);
/* Runs `count` ticks on the servo thread and returns once they have run.
 * KORVO_SIM_E_NOT_RUNNING without a started loop, KORVO_SIM_E_NOT_MANUAL on the
 * real-time clock, KORVO_SIM_E_WRONG_THREAD from the servo thread. */
KORVO_API int korvo_sim_run_ticks(unsigned int count);
/* Simulated time in seconds and the number of ticks run since the servo loop
 * was last started. */
KORVO_API int korvo_sim_get_time(double* seconds, uint64_t* ticks);

/* ------------------------------------------------------------ the hand */

/* Moves the virtual hand's target; the hand pulls the stylus toward it with a
 * spring and damper. Millimetres. */
KORVO_API int korvo_sim_set_hand_target(unsigned int handle, const double position[3]);
/* Stiffness (N/mm) and damping (N s/mm) of the hand's grip on the stylus. */
KORVO_API int korvo_sim_set_hand_gains(unsigned int handle, double stiffness, double damping);
/* Puts the stylus at rest at `position` and the hand target with it. */
KORVO_API int korvo_sim_place_stylus(unsigned int handle, const double position[3]);
/* Stylus orientation as gimbal angles (radians), for models with a gimbal. */
KORVO_API int korvo_sim_set_gimbal_angles(unsigned int handle, const double angles[3]);
/* Button bits: bit 0, 1, 2 for buttons 1, 2, 3. */
KORVO_API int korvo_sim_set_buttons(unsigned int handle, int bits);
KORVO_API int korvo_sim_set_switches(unsigned int handle, int inkwell, int safety);
KORVO_API int korvo_sim_set_pinch(unsigned int handle, double value);
/* Plays a trajectory file (CSV lines "time, x, y, z, buttons"; times in
 * seconds from the start of playback) as the hand target and buttons. NULL
 * stops playback. */
KORVO_API int korvo_sim_load_trajectory(unsigned int handle, const char* path);

/* ------------------------------------------------------------ faults */

/* Injects a device code that the next call meeting it reports once (see the
 * README for which calls meet which codes); 0 clears a pending fault. */
KORVO_API int korvo_sim_inject_fault(unsigned int handle, int code);
/* Like korvo_sim_inject_fault, but reported by every call that meets it until
 * cleared with 0 (a disconnected cable, a failed amplifier). */
KORVO_API int korvo_sim_set_persistent_fault(unsigned int handle, int code);
/* The next init_korvo returns this code (0 clears it). */
KORVO_API int korvo_sim_inject_init_fault(int code);
/* The next servo tick passes this servo-loop code to the servo error callback. */
KORVO_API int korvo_sim_inject_servo_error(int code);
/* Sets the raw calibration status word that get_calibration_status reports. */
KORVO_API int korvo_sim_set_calibration_status(unsigned int handle, int status);
/* Overrides the normalised motor temperatures (count values, 3 or 6); the
 * thermal model continues from them. */
KORVO_API int korvo_sim_set_motor_temperatures(unsigned int handle, const double* temperatures, int count);

/* ------------------------------------------------------------ observation */

/* The simulated stylus position and the force the motors last applied. */
KORVO_API int korvo_sim_get_true_state(unsigned int handle, double position[3], double force[3]);

/* Writes one CSV line per tick and device to `path` (NULL closes the trace). */
KORVO_API int korvo_sim_open_trace(const char* path);

/* ------------------------------------------------------------ lifetime */

/* Closes every device and restores every simulator setting to its default.
 * Only while no servo loop runs. */
KORVO_API int korvo_sim_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_SIM_H */

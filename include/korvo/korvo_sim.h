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
 * Functions taking a handle return KORVO_INVALID_HANDLE for a handle that is
 * not open, KORVO_INVALID_ARGUMENT for a null pointer, KORVO_NON_FINITE_VALUE
 * for a NaN or infinite number and KORVO_OUT_OF_RANGE for a value outside the
 * range stated.
 *
 * ---------------------------------------------------------------- models
 *
 * Device names (matched without regard to case; "" or NULL is the default
 * device):
 *
 *   "Korvo Arm 3G" or "arm3g"  the default. 6-DOF input (gimbal encoders),
 *       3-DOF output, two buttons, automatic calibration. Usable workspace
 *       x -80..80, y -60..60, z -60..60 mm; maximum x -120..120, y -90..100,
 *       z -90..90. 6 N maximum, 1.5 N continuous, 1.2 N/mm stiffness.
 *   "Korvo Arm 6" or "arm6"    6-DOF input and output, three buttons, an
 *       inkwell; inkwell calibration and encoder reset. Usable x -100..100,
 *       y -70..70, z -60..60; 8 N, 2 N continuous, 400 N mm torque.
 *   "Korvo Mini" or "mini"     3-DOF input and output, one button; the only
 *       calibration is the encoder reset (korvo_reset). Usable x -50..50,
 *       y -40..40, z -30..30; 3.3 N, 0.9 N continuous.
 *
 * Each name is one device: opening it again returns the same handle, and
 * several different devices may be open at once (one servo loop steps them
 * all). Handles are 0..15, the lowest free one first.
 *
 * ---------------------------------------------------------------- the simulation
 *
 * The stylus is a point mass with viscous and a little Coulomb friction. A
 * virtual hand holds it with a spring and damper toward the hand's target
 * (default 0.5 N/mm and 0.005 N s/mm, target at the centre of the usable
 * workspace) and may press it with a constant force, and the motors push it
 * with the applied force. Every servo tick first runs the callbacks, which
 * see the state at the tick's start, then advances one period: the force
 * commanded during a tick is held by the amplifiers over the period after it
 * (a zero-order hold, as on hardware), and that period is solved exactly,
 * not approximated by a step of a numerical integrator. A virtual spring
 * therefore loses and gains energy through sampling exactly as on a real
 * arm: the hold delays the force by half a period on average, which acts as
 * a negative damping of K T / 2 (K the stiffness, T the period). A rendered
 * wall of stiffness K and damping B (B computed from position differences)
 * on a stylus with physical damping b is passive when b > K T / 2 + |B|;
 * beyond that it can buzz. With a released stylus (grip 0, 0) the physical
 * damping is the viscous friction alone, and at 1000 ticks per second even
 * a wall of the nominal stiffness is just past the bound on the Arm 3G
 * (K T / 2 = 0.0006 against 0.0005 N s/mm: it grows by 0.07 % per tick
 * until Coulomb friction holds it); the default grip adds its 0.005 N s/mm
 * and allows about 11 N/mm. docs/simulator.md has a map. Coulomb friction is applied after
 * the exact linear part as an impulse against the motion (it removes at most
 * friction T / mass of speed per period and holds a stylus at rest against a
 * smaller pull). Box-shaped end stops keep the stylus inside the maximum
 * workspace (inelastic: the outward speed is dropped). Without a running
 * servo loop nothing moves. Runs on the manual clock are deterministic: the
 * same inputs give bit-identical results and traces.
 *
 * The arm has three joints: base rotation about y, shoulder and elbow; the
 * gimbal (three angles) sits at the reported position. Joint angles are read
 * by encoders and the position, transform and Jacobian are computed from the
 * counts, so they agree with each other exactly and differ from the true
 * position by the encoder resolution (hundredths of a millimetre).
 *
 * The reported velocity is derived from the encoders as a device does it:
 * every tick the position computed from the counts is differenced over the
 * period and smoothed by a first-order low-pass filter,
 *   raw_k = (p_k - p_(k-1)) / T,  v_k = v_(k-1) + (1 - a) (raw_k - v_(k-1)),
 *   a = exp(-T / tau).
 * It lags the true velocity: on a steady acceleration by T / 2 + a T / (1 - a)
 * (2.04 ms on the Arm 3G at 1000 ticks per second), and it moves in steps:
 * one encoder count in one period changes it by (1 - a) (length of a count)
 * / T (about 8 mm/s on the Arm 3G at the workspace centre). The velocity
 * check of the safety chain uses this estimate, as a device must.
 * korvo_sim_get_true_state returns the true velocity.
 *
 * Motors: each motor delivers at most its peak torque, the torque of full
 * DAC scale (see command_motor_dac_values); a command whose joint torques
 * (the Jacobian transpose times the wrench) exceed it is clipped motor by
 * motor, as a saturating amplifier does, and the stylus gets the wrench of
 * the clipped torques. The amplifiers share a supply sized for the nominal
 * maximum force, so no command, Cartesian or raw, gives the stylus more
 * force than that (a larger force is scaled down along its direction). Near
 * the edge of the workspace a Cartesian force within the nominal maximum may
 * therefore arrive smaller (and slightly turned) where one motor's lever is
 * longer than at the centre.
 *
 * Physical parameters, per model (Arm 3G / Arm 6 / Mini), and why:
 *   moving mass at the tip   0.075 / 0.12 / 0.045 kg: the apparent inertia
 *       of links, motors' rotors and stylus seen at the tip of a desktop arm
 *       of this size; the larger arm carries three more motors in its gimbal.
 *   viscous friction         0.0005 / 0.0008 / 0.0003 N s/mm: bearing and
 *       cable-drive losses; an order of magnitude below the nominal damping,
 *       as on a back-drivable arm that should feel free in the hand.
 *   Coulomb friction         0.02 / 0.03 / 0.015 N: the static friction of
 *       the cable drive, under 1 % of the maximum force so that it is felt
 *       only as a slight stickiness.
 *   nominal stiffness        1.2 / 2.0 / 1.0 N/mm: the stiffest wall the
 *       maker guarantees stable with a user's grip at 1000 ticks per second,
 *       with a wide margin below K T / 2 < b (about 11 N/mm with the
 *       default grip on the Arm 3G).
 *   maximum / continuous force  6 / 8 / 3.3 N and 1.5 / 2 / 0.9 N: the
 *       motors' peak and thermal ratings at the workspace centre (the
 *       continuous force settles the motor temperature at 0.4).
 *   peak motor torque        the torque giving the maximum force at the
 *       workspace centre in that motor's best direction (full DAC scale);
 *       gimbal motors of the Arm 6: 400 N mm.
 *   encoder resolution       arm joints 10000 / 16000 / 6000 counts per
 *       radian, gimbal 2000 / 4000 / none: with levers of 150..340 mm a
 *       count is 0.01..0.04 mm at the tip, the resolution of optical
 *       encoders behind a cable reduction on arms of this size.
 *   velocity filter tau      2 / 1.5 / 3 ms: long enough that the step of
 *       one count per period (20 / 16 / 23 mm/s before the filter at the
 *       centre) is cut to under 10 mm/s, short enough that a wall's damping
 *       still sees the motion within a few periods; the Arm 6 has the finer
 *       encoders and so the shorter filter, the Mini the coarser ones.
 *   end stops                the maximum workspace box of each model.
 *   default grip             0.5 N/mm, 0.005 N s/mm: a relaxed hand holding
 *       the stylus (its damping is what lets walls stiffer than K T / 2 <
 *       viscous friction stay quiet, as a user's hand does on hardware).
 *
 * Inputs set through this interface (buttons, switches, pinch, gimbal
 * angles) are seen by the reads after the next update_korvo, like any
 * sensor data.
 *
 * ---------------------------------------------------------------- safety and outputs
 *
 * Defaults at open: forces off; zero saturation (is_force_saturation_enabled
 * false); force check off; velocity check on at 1000 mm/s (800 for the
 * Mini); kick check off (limit 3 N per tick for the Arm 3G); ramping off
 * (rate 2 per second, i.e. full force after 0.5 s).
 *
 * send_korvo_force_6dof passes a command through these steps and stops at
 * the first that refuses it; a refusal returns its code and holds zero force:
 *   1. an injected fault met by the output calls (see below);
 *   2. a NaN or infinite value: KORVO_NON_FINITE_VALUE;
 *   3. forces off: accepted (KORVO_OK), nothing applied;
 *   4. a motor warm (at or above 1.0, until all are below 0.9): KORVO_WARM_MOTORS;
 *   5. velocity check on and the stylus faster than the limit (by the
 *      device's velocity estimate): KORVO_EXCEEDED_MAX_VELOCITY;
 *   6. force check on and the force (or, with gimbal motors, the torque) over
 *      the nominal maximum: KORVO_EXCEEDED_MAX_FORCE, whatever the
 *      saturation mode;
 *   7. saturation: a force over the nominal maximum is truncated to it along
 *      its direction, or replaced by zero (not an error);
 *   8. kick check on and the force (as the motors will deliver it, after
 *      their bound, see "Motors" above) differing from the force held so
 *      far by more than the kick limit: KORVO_EXCEEDED_MAX_FORCE_IMPULSE.
 * A command that passes is held until the next one, but for ten periods at
 * most: without a new command the amplifiers then drop it, so an arm whose
 * program stopped commanding (a servo callback that ended) does not keep
 * pushing on the user's hand.
 * Torques are ignored by devices without gimbal motors. While ramping is on,
 * switching forces on scales the output from 0 up to 1 at the ramp rate.
 *
 * command_motor_dac_values takes one value per motor (3 or 6) in
 * [-32768, 32767] (KORVO_OUT_OF_RANGE otherwise, zero force held). A value
 * of 32767 is the motor's full torque: the torque that gives the nominal
 * maximum force at the workspace centre in that motor's best direction. The
 * joint torques become the force at the stylus through the inverse of the
 * Jacobian transpose. Steps 1, 3, 4, 5 and 8 above apply; the force check
 * and saturation do not (raw motor commands bypass the Cartesian limits).
 * Both paths then meet the motors' own bound (see "Motors" above) before the
 * kick check, which compares what the motors will deliver.
 *
 * Motor heating: each motor's normalised temperature follows
 * dT/dt = (0.4 (torque / continuous torque)^2 - T) / 30 s, so the continuous
 * force held in a motor's worst direction settles at 0.4 and the maximum
 * force drives it well above 1 (warm after about 5 s).
 *
 * ---------------------------------------------------------------- calibration
 *
 * get_calibration_status reports a status word: bits 4..7 are the axes that
 * need calibration, bits 0..3 the axes that can be calibrated automatically
 * now (all three arm axes are calibrated together, so the values are 0x7 or
 * 0). At open: Arm 3G 0x77 (update_calibration clears the high nibble);
 * Arm 6 0x70, with the low nibble 0x7 while the stylus is in the inkwell
 * (update_calibration fails with KORVO_CALIBRATION_FAILED when it is not);
 * Mini 0x70 (update_calibration is KORVO_NOT_SUPPORTED; korvo_reset clears
 * it). korvo_reset re-zeroes the encoders (undoing
 * set_joint_angle_references) on the models that support it. While the
 * high nibble is set the status light blinks slowly (2), otherwise it is
 * steady (1); override_status_light takes states 0..3 (off, on, slow, fast).
 *
 * ---------------------------------------------------------------- which calls meet which faults
 *
 * An injected device code (korvo_sim_inject_fault once,
 * korvo_sim_set_persistent_fault until cleared) is reported by:
 *   - KORVO_WARM_MOTORS, KORVO_EXCEEDED_MAX_FORCE, KORVO_NON_FINITE_VALUE,
 *     KORVO_EXCEEDED_MAX_FORCE_IMPULSE, KORVO_EXCEEDED_MAX_VELOCITY: the two
 *     output calls (send_korvo_force_6dof, command_motor_dac_values), which
 *     then hold zero force;
 *   - KORVO_CALIBRATION_FAILED: update_calibration and korvo_reset;
 *   - every other negative code (communication, configuration, device,
 *     amplifier, encoder, power and timer faults, or any code a test wants
 *     to see): update_korvo, which then latches no new data, and the two
 *     output calls, which hold zero force.
 * A one-shot code is consumed by the first call that meets it; when both
 * are set, the one-shot code is reported first. Reads are never refused by
 * faults (they return the last latched data). Init faults are met by the
 * next init_korvo; servo-loop codes by the servo error callback at the next
 * tick.
 *
 * ---------------------------------------------------------------- environment
 *
 * A program can be driven without changing its code. These variables are
 * read whenever init_korvo opens a device:
 *   KORVO_SIM_MODEL=<name>       the device that "" and NULL open.
 *   KORVO_SIM_NO_DEVICE=1        init_korvo fails with KORVO_DEVICE_NOT_PRESENT
 *                                (any value but "0" counts).
 *   KORVO_SIM_TRAJECTORY=<file>  plays the file (format of
 *                                korvo_sim_load_trajectory) on the default
 *                                device from the moment it is opened.
 *   KORVO_SIM_TRACE=<file>       writes the trace (korvo_sim_open_trace) to
 *                                the file, unless a trace is already open.
 *   KORVO_SIM_FAULTS=<list>      injects device codes into the default device
 *                                at given times: a comma-separated list of
 *                                "time:code" (one-shot, as
 *                                korvo_sim_inject_fault) or
 *                                "time:code:persistent" (as
 *                                korvo_sim_set_persistent_fault), e.g.
 *                                "2.5:-17,4.0:-4:persistent". Times are
 *                                seconds of simulated time since the device
 *                                was opened (the clock of the trajectory),
 *                                finite and >= 0; codes are integers <= 0
 *                                (0 clears, so "3:-17:persistent,6:0:persistent"
 *                                unplugs the cable for three seconds). A fault
 *                                becomes pending at the first servo tick that
 *                                reaches its time and is then met by the calls
 *                                listed above.
 *   KORVO_SIM_OVERRUN_TOLERANCE=<periods>
 *                                as korvo_sim_set_overrun_tolerance, for any
 *                                device opened (0..1000000); a larger
 *                                tolerance keeps programs running on a busy
 *                                machine.
 * Every process that opens a simulated device publishes its devices for
 * korvo_sim_viewer in the shared-memory segment /dev/shm/korvo_sim.<pid>
 * (mode 0600, removed when the last device closes; one left by a process
 * that died is removed by the next process that opens a device). A viewer
 * moves the hand, the grip and the buttons through it; the servo loop takes
 * its commands at the next tick as korvo_sim_set_hand_target,
 * korvo_sim_set_hand_gains and korvo_sim_set_buttons, with the target
 * clamped to the maximum workspace.
 * A trajectory or trace file that cannot be used, a malformed fault list or
 * tolerance makes init_korvo fail with KORVO_CONFIG_READ_ERROR and prints one line
 * naming the variable on standard error.
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
 * Only while no servo loop runs (KORVO_SIM_E_BUSY otherwise, and always from
 * the servo thread). */
KORVO_API int korvo_sim_set_manual_clock(int on);
/* Runs `count` ticks on the servo thread and returns once they have run.
 * KORVO_SIM_E_NOT_RUNNING without a started loop (or when the loop is
 * stopped before the ticks have run, for example by stopServoLoop in a
 * callback), KORVO_SIM_E_NOT_MANUAL on the real-time clock,
 * KORVO_SIM_E_WRONG_THREAD from the servo thread. Several threads may ask
 * for ticks at once; each returns when its own ticks have run. */
KORVO_API int korvo_sim_run_ticks(unsigned int count);
/* Simulated time in seconds and the number of ticks run since the servo loop
 * was last started. Each tick advances simulated time by one period, so
 * after N ticks at rate R the time is N / R (in real time too, where the
 * periods of missed ticks are added as they are caught up). Both pointers
 * are required. */
KORVO_API int korvo_sim_get_time(double* seconds, uint64_t* ticks);
/* How late the current (or last) tick started after its deadline, in seconds
 * (0 on the manual clock and before the first tick). */
KORVO_API int korvo_sim_get_tick_lateness(double* seconds);

/* ------------------------------------------------------------ the hand */

/* Moves the virtual hand's target; the hand pulls the stylus toward it with a
 * spring and damper. Millimetres, each coordinate within +-10000. While a
 * trajectory plays, the playback moves the target again at the next tick. */
KORVO_API int korvo_sim_set_hand_target(unsigned int handle, const double position[3]);
/* Stiffness (N/mm, 0..100) and damping (N s/mm, 0..10) of the hand's grip on
 * the stylus. 0, 0 is a released stylus: the hand neither holds it nor damps
 * it, and only the stylus's own friction (and a pressing force, below)
 * acts on it besides the motors. */
KORVO_API int korvo_sim_set_hand_gains(unsigned int handle, double stiffness, double damping);
/* The hand presses the stylus with a constant force (N, each component
 * within +-100), on top of its grip, until changed; zeros stop pressing. To
 * press instead of following a target, as a user probes a wall or pushes
 * through it, release the grip first (korvo_sim_set_hand_gains(h, 0, 0)).
 * Closing the device forgets it. */
KORVO_API int korvo_sim_set_hand_force(unsigned int handle, const double force[3]);
/* Puts the stylus at rest at `position` and the hand target with it, and
 * latches the sensor data there as update_korvo would. KORVO_OUT_OF_RANGE
 * outside the maximum workspace. */
KORVO_API int korvo_sim_place_stylus(unsigned int handle, const double position[3]);
/* Stylus orientation as gimbal angles (radians), for models with a gimbal
 * (KORVO_NOT_SUPPORTED otherwise). Ranges: +-2.6, +-1.4, +-3.1. */
KORVO_API int korvo_sim_set_gimbal_angles(unsigned int handle, const double angles[3]);
/* Button bits: bit 0, 1, 2 for buttons 1, 2, 3 (0..7; bits for buttons the
 * model lacks are ignored). */
KORVO_API int korvo_sim_set_buttons(unsigned int handle, int bits);
/* Inkwell and safety (stylus presence) switches, 0 or 1 each. A model
 * without an inkwell always reads its inkwell switch as 0. At open the
 * stylus is out of the inkwell and held (safety 1). */
KORVO_API int korvo_sim_set_switches(unsigned int handle, int inkwell, int safety);
/* Pinch sensor value, 0..1. */
KORVO_API int korvo_sim_set_pinch(unsigned int handle, double value);
/* Plays a trajectory file (CSV lines "time, x, y, z, buttons"; times in
 * seconds from the start of playback) as the hand target and buttons. NULL
 * stops playback. Lines starting with '#' and blank lines are ignored;
 * positions are interpolated linearly, buttons step at each line; after the
 * last line the hand holds the last point. Two lines with the same time are a
 * jump: at that tick the hand is put down at the second point without a
 * speed, as korvo_sim_set_hand_target does (the viewer records its drags
 * this way). Playback time advances with the servo ticks from the moment of
 * loading, and pauses while korvo_sim_viewer holds the hand. KORVO_SIM_E_FILE when the file
 * cannot be read; KORVO_SIM_E_PARSE for a line without exactly five
 * numbers, negative or decreasing times, buttons outside 0..7, or no line at
 * all. Call from a client thread (the file is read by the caller). */
KORVO_API int korvo_sim_load_trajectory(unsigned int handle, const char* path);

/* ------------------------------------------------------------ the mechanics */

/* Replaces the model's viscous (N s/mm, 0..1) and Coulomb (N, 0..10)
 * friction until the device is closed; 0, 0 turns friction off, for
 * analysing the sampled dynamics without it. */
KORVO_API int korvo_sim_set_friction(unsigned int handle, double viscous, double coulomb);
/* on (1, the default) or off (0) for the encoders' quantisation. Off, the
 * joint angles and everything computed from them (position, transform,
 * Jacobian, the velocity estimate) are exact; the encoder counts are still
 * whole numbers. For separating sampled-data effects from quantisation. */
KORVO_API int korvo_sim_set_encoder_quantisation(unsigned int handle, int on);

/* ------------------------------------------------------------ faults */

/* Injects a device code (negative) that the next call meeting it reports once
 * (see "which calls meet which faults" above); 0 clears a pending fault;
 * positive codes are KORVO_OUT_OF_RANGE. */
KORVO_API int korvo_sim_inject_fault(unsigned int handle, int code);
/* Like korvo_sim_inject_fault, but reported by every call that meets it until
 * cleared with 0 (a disconnected cable, a failed amplifier). */
KORVO_API int korvo_sim_set_persistent_fault(unsigned int handle, int code);
/* The next init_korvo returns this code (negative; 0 clears it). */
KORVO_API int korvo_sim_inject_init_fault(int code);
/* The next servo tick passes this servo-loop code (negative; 0 clears it) to
 * the servo error callback, before the tick's pre callback. */
KORVO_API int korvo_sim_inject_servo_error(int code);
/* A real-time tick that ends after the next deadline is an overrun. The
 * servo error callback receives KORVO_SERVO_OVERRUN only when one stall misses
 * more than `periods` deadlines (default 10, i.e. 10 ms at 1000 ticks per
 * second); 0 reports every overrun. Shorter stalls are absorbed (the physics
 * catches up) and show in korvo_sim_get_tick_lateness. Restored by
 * korvo_sim_reset. */
KORVO_API int korvo_sim_set_overrun_tolerance(unsigned int periods);
/* Sets the raw calibration status word (0..255) that get_calibration_status
 * reports. */
KORVO_API int korvo_sim_set_calibration_status(unsigned int handle, int status);
/* Overrides the normalised motor temperatures (count values, 3 or 6, at most
 * the model's number of motors, each 0..100); the thermal model continues
 * from them, and the warm-motor state follows at once. */
KORVO_API int korvo_sim_set_motor_temperatures(unsigned int handle, const double* temperatures, int count);

/* ------------------------------------------------------------ observation */

/* The simulated stylus position and velocity (neither quantised by the
 * encoders nor filtered; mm and mm/s) and the force the motors apply now
 * (after saturation, the motors' bound, ramping and the warm-motor cut-off;
 * N). All three pointers are required. */
KORVO_API int korvo_sim_get_true_state(unsigned int handle, double position[3], double velocity[3], double force[3]);

/* What a rendering library makes of the device, shown by viewers
 * (korvo_sim_viewer) beside the device's own state: the proxy, the point the
 * stylus is held to on a surface, and while `touching` is nonzero the unit
 * normal of the touched surface. Device coordinates (mm), the frame of
 * korvo_sim_get_true_state. Viewers see it from the next tick on. `proxy`
 * NULL withdraws the view (a renderer that stops). `normal` may be NULL when
 * not touching. KORVO_NON_FINITE_VALUE for a non-finite number,
 * KORVO_OUT_OF_RANGE for a coordinate beyond +-10000 or a touching normal
 * that is not of unit length (within 1e-3), KORVO_INVALID_ARGUMENT for a
 * touching view without a normal; a refused view leaves the one shown
 * before. A closed device forgets its
 * view. Any thread, including the servo thread; the rendering library calls
 * it from its collision thread when it finds this simulator in the process
 * (a hardware driver has no such function). */
KORVO_API int korvo_sim_publish_proxy(unsigned int handle, const double proxy[3], int touching, const double normal[3]);

/* Writes one CSV line per tick and open device to `path` (NULL closes the
 * trace; KORVO_SIM_E_FILE when the file cannot be created or a write
 * failed). The header line is
 *   time,device,hand_x,hand_y,hand_z,pos_x,pos_y,pos_z,vel_x,vel_y,vel_z,force_x,force_y,force_z
 * with the simulated time of the tick, the handle, the hand target, the true
 * stylus position and velocity at the tick's start (which the callbacks'
 * reads quantise and filter), and the force applied during the period after
 * the tick. Lines are buffered; the file is
 * complete once the trace is closed (also at korvo_sim_reset and at process
 * exit). */
KORVO_API int korvo_sim_open_trace(const char* path);

/* ------------------------------------------------------------ lifetime */

/* Closes every device and restores every simulator setting to its default:
 * real-time clock, servo rate, no servo callbacks, no pending init fault or
 * servo error, trace closed. Only while no servo loop runs
 * (KORVO_SIM_E_BUSY otherwise). */
KORVO_API int korvo_sim_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_SIM_H */

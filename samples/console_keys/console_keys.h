/*
 * Console keys for the sample programs: "press any key" polling and unechoed
 * single-key reads on standard input. Usable from C and C++.
 *
 * This is ordinary POSIX terminal code (termios and poll), kept with the
 * samples so that they build against the installed SDK alone; a program of
 * your own may use it as it is or replace it with its toolkit's input.
 *
 * On a terminal each call switches it to unechoed single-key input for its
 * own duration only and restores the settings afterwards (consoleReadKey
 * also when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the process during the
 * read, or the process exits), so keys typed between calls are echoed as
 * usual. A process in the background leaves the terminal settings alone.
 *
 * When standard input is not a terminal (a pipe, a file, /dev/null, a
 * closed descriptor), end of input counts as a waiting key, so a program
 * that waits for a key in an unattended run ends instead of hanging.
 *
 * Both calls may be used from any thread; they serialise on a lock, and while
 * one thread waits in consoleReadKey, consoleKeyPressed elsewhere reports no
 * key.
 */
#ifndef ZV_SAMPLES_CONSOLE_KEYS_H
#define ZV_SAMPLES_CONSOLE_KEYS_H

#ifdef __cplusplus
extern "C" {
#endif

/* What consoleReadKey returns once standard input has ended. */
#define CONSOLE_KEY_END_OF_INPUT (-1)

/* Nonzero when a key is waiting on standard input (or the input has ended);
 * returns at once. */
int consoleKeyPressed(void);

/* Waits for one key and returns it (0..255) without echoing it, or
 * CONSOLE_KEY_END_OF_INPUT when standard input has ended. */
int consoleReadKey(void);

#ifdef __cplusplus
}
#endif

#endif /* ZV_SAMPLES_CONSOLE_KEYS_H */

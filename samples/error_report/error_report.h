/*
 * Error report utility shared by the sample programs.
 *
 * Turns a device-library error record into readable console output and
 * decides whether an error seen inside a servo callback must stop that
 * callback. Usable from C and C++.
 *
 * The pattern every sample's servo callback follows after zvEndFrame:
 *
 *     ZVErrorInfo error = zvGetError();
 *     if (error.errorCode != ZV_SUCCESS) {
 *         samplePrintError(stderr, &error, "Error during main scheduler callback");
 *         if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
 *     }
 *     return ZV_CALLBACK_CONTINUE;
 *
 * A scheduler or communication error means the servo loop or the device
 * connection itself is in trouble, so going on would only repeat it; any
 * other error (a device fault, a warning) is reported and the callback keeps
 * rendering.
 *
 * None of these functions raises a device-library error. They may be called
 * from any thread, the servo thread included.
 */
#ifndef ZV_SAMPLES_ERROR_REPORT_H
#define ZV_SAMPLES_ERROR_REPORT_H

#include <stdio.h>

#include "zv/zv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The symbolic name of an error code, e.g. "ZV_COMM_ERROR" for 0x302, as a
 * constant string; "Unknown Error Code" for a code without a name here (the
 * force-impulse warning 0x202 included). Never NULL. */
const char* sampleErrorCodeName(ZVerror errorCode);

/* Writes six lines to `stream`:
 *     ZV Error: <name of the code>
 *     <the device library's message for the code (zvGetErrorString)>
 *     HZV: <device handle, hexadecimal>
 *     Error Code: <code, hexadecimal>
 *     Internal Error Code: <internal code, decimal>
 *     Message: <message>
 * A NULL message prints as the empty string; a NULL stream or record
 * prints nothing. */
void samplePrintError(FILE* stream, const ZVErrorInfo* error, const char* message);

/* True (1) for the errors after which a servo callback should stop:
 * ZV_COMM_ERROR, ZV_COMM_CONFIG_ERROR, ZV_TIMER_ERROR, ZV_INVALID_PRIORITY
 * and ZV_SCHEDULER_FULL; false (0) for every other code and for NULL. */
ZVboolean sampleIsSchedulerError(const ZVErrorInfo* error);

/* The samples' way out of a failed start-up: prints the error report on
 * standard error (samplePrintError with `message`), then
 * "\nPress any key to quit.\n" on `prompt` (standard output or standard
 * error, as the sample shows its other prompts), and waits for one key. */
void sampleReportFailureAndWaitForKey(FILE* prompt, const ZVErrorInfo* error, const char* message);

#ifdef __cplusplus
}
#endif

#endif /* ZV_SAMPLES_ERROR_REPORT_H */

// frictionless_sphere_demo: feel a frictionless sphere of radius 40 at the
// centre of the workspace.
//
// The smallest complete program on the device library: open the device,
// switch forces on, start the servo loop, run one callback every tick (in
// sphere_field.cpp), wait for a key, shut down.
#include <chrono>
#include <cstdio>
#include <thread>

#include "console_keys.h"
#include "error_report.h"
#include "sphere_field.h"
#include "zv/zv.h"

int main() {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to initialize haptic device");
        return -1;
    }

    // Forces stay off until asked for, so that opening a device never moves
    // the arm by surprise.
    zvEnable(ZV_FORCE_OUTPUT);

    zvStartScheduler();
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to start scheduler");
        return -1;
    }

    // From now on the sphere is rendered on the servo thread, every tick,
    // while this thread only watches the keyboard.
    const ZVSchedulerHandle callback =
        zvScheduleAsynchronous(frictionless_sphere::sphereCallback, nullptr, ZV_DEFAULT_SCHEDULER_PRIORITY);

    std::printf("Sphere example.\n");
    std::printf("Move the device around to feel a frictionless sphere\n\n");
    std::printf("Press any key to quit.\n\n");
    std::fflush(stdout);

    while (!consoleKeyPressed()) {
        // The callback unschedules itself when the device stops answering.
        if (!zvWaitForCompletion(callback, ZV_WAIT_CHECK_STATUS)) {
            std::fprintf(stderr, "\nThe main scheduler callback has exited\n");
            std::fprintf(stderr, "\nPress any key to quit.\n");
            consoleReadKey();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    zvStopScheduler();
    zvUnschedule(callback);
    zvDisableDevice(device);
    return 0;
}

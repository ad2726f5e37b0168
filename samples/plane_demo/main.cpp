// plane_demo: a plane along y = 0 that resists the device and lets it pop
// through when pushed hard enough; afterwards it resists from the other side.
//
// The program around the callback (in plane_field.cpp) is that of the
// frictionless sphere demo: open, enable forces, start the servo loop,
// schedule the callback, wait for a key, shut down.
#include <chrono>
#include <cstdio>
#include <thread>

#include "console_keys.h"
#include "error_report.h"
#include "plane_field.h"
#include "zv/zv.h"

int main() {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to initialize haptic device");
        return -1;
    }

    zvEnable(ZV_FORCE_OUTPUT);

    zvStartScheduler();
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to start the scheduler");
        return -1;
    }

    const ZVSchedulerHandle callback =
        zvScheduleAsynchronous(plane::planeCallback, nullptr, ZV_DEFAULT_SCHEDULER_PRIORITY);

    std::printf("Plane example.\n");
    std::printf("Move the device up and down to feel a plane along Y=0.\n");
    std::printf("Push hard against the plane to popthrough to the other side.\n");
    std::printf("Press any key to quit.\n\n");
    std::fflush(stdout);

    while (!consoleKeyPressed()) {
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

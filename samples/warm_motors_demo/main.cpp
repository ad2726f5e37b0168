// warm_motors_demo: keeps a device from overheating while the user holds a
// stiff floor below y = 0 (the floor and the ramp are in warm_motors.cpp).
// Twice a second it prints the normalised motor temperatures and whether it
// is ramping its force limit down or up.
#include <chrono>
#include <cstdio>
#include <thread>

#include "console_keys.h"
#include "error_report.h"
#include "warm_motors.h"
#include "zv/zv.h"

int main() {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to initialize haptic device");
        return -1;
    }

    std::printf("Handling Warm Motors Example\n");
    std::fflush(stdout);
    int motorCount = 0;
    zvGetIntegerv(ZV_OUTPUT_DOF, &motorCount);
    warm_motors::WarmMotorsDemo demo(motorCount);

    // Besides our own ramp, let the device ramp forces in when they are
    // switched on, and truncate (rather than drop) a force above its maximum.
    zvEnable(ZV_FORCE_OUTPUT);
    zvEnable(ZV_FORCE_RAMPING);
    zvEnable(ZV_MAX_FORCE_CLAMPING);

    const ZVSchedulerHandle callback =
        zvScheduleAsynchronous(warm_motors::floorCallback, &demo, ZV_MAX_SCHEDULER_PRIORITY);
    zvStartScheduler();
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to start scheduler");
        return -1;
    }

    std::printf("Press any key to quit.\n\n");
    std::fflush(stdout);
    while (!consoleKeyPressed()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        zvScheduleSynchronous(warm_motors::readTemperaturesCallback, &demo, ZV_DEFAULT_SCHEDULER_PRIORITY);
        std::fputs(warm_motors::temperatureLine(demo).c_str(), stdout);
        std::fflush(stdout);

        if (!zvWaitForCompletion(callback, ZV_WAIT_CHECK_STATUS)) {
            std::fprintf(stderr, "Press any key to quit.\n");
            consoleReadKey();
            break;
        }
    }

    zvStopScheduler();
    zvUnschedule(callback);
    zvDisableDevice(device);
    return 0;
}

#include "warm_motors.h"

#include <algorithm>
#include <cmath>

#include "error_report.h"

namespace warm_motors {

// The ramp has three phases:
//  - unlimited, until the hottest motor passes kHotTemperature;
//  - ramping down: the limit starts at the force of that moment (so nothing
//    jumps) and shrinks by 0.1 % per tick until it reaches the continuous
//    force, which the motors can hold without heating further;
//  - ramping up, once the motors have cooled below kCooledTemperature: the
//    limit grows by 0.1 % per tick, and as soon as the wanted force fits
//    under it the limit is lifted altogether.
void limitForce(ForceRamp& ramp, double force[3], double hottestTemperature, double continuousForce) {
    const double magnitude = std::sqrt(force[0] * force[0] + force[1] * force[1] + force[2] * force[2]);

    if (!ramp.rampingDown && hottestTemperature > kHotTemperature) {
        ramp.rampingDown = true;
        ramp.rampingUp = false;
        ramp.forceLimit = magnitude;
    } else if (ramp.rampingDown && hottestTemperature < kCooledTemperature) {
        ramp.rampingDown = false;
        ramp.rampingUp = true;
    }

    if (ramp.rampingDown) {
        ramp.forceLimit *= kRampDownFactor;
        if (continuousForce >= ramp.forceLimit) ramp.forceLimit = continuousForce;
    } else if (ramp.rampingUp) {
        if (magnitude < ramp.forceLimit) {
            ramp.rampingUp = false;
            ramp.forceLimit = std::numeric_limits<double>::max();
        }
        ramp.forceLimit *= kRampUpFactor;
    }

    if (magnitude > ramp.forceLimit) {
        const double scale = ramp.forceLimit / magnitude;
        for (int i = 0; i < 3; ++i) force[i] *= scale;
    }
}

// The floor is as stiff as the device can render stably (its nominal
// maximum stiffness), which makes holding it costly for the motors.
ZVCallbackCode floorCallback(void* data) {
    WarmMotorsDemo& demo = *static_cast<WarmMotorsDemo*>(data);
    const HZV device = zvGetCurrentDevice();
    zvBeginFrame(device);

    double position[3];
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    double stiffness = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &stiffness);

    double force[3] = {0.0, 0.0, 0.0};
    if (position[1] < 0.0) force[1] = -position[1] * stiffness;

    zvGetDoublev(ZV_MOTOR_TEMPERATURE, demo.servoTemperatures.data());
    const double hottest = demo.servoTemperatures.empty()
                               ? 0.0
                               : *std::max_element(demo.servoTemperatures.begin(), demo.servoTemperatures.end());
    double continuousForce = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_CONTINUOUS_FORCE, &continuousForce);
    limitForce(demo.ramp, force, hottest, continuousForce);

    zvSetDoublev(ZV_CURRENT_FORCE, force);
    zvEndFrame(device);

    const ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Error detected during main scheduler callback\n");
        if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
    }
    return ZV_CALLBACK_CONTINUE;
}

// Runs on the servo thread between ticks, so the ramp state it copies is
// never half updated, and the main thread reads only the copies.
ZVCallbackCode readTemperaturesCallback(void* data) {
    WarmMotorsDemo& demo = *static_cast<WarmMotorsDemo*>(data);
    zvGetDoublev(ZV_MOTOR_TEMPERATURE, demo.printTemperatures.data());
    demo.printRampingDown = demo.ramp.rampingDown;
    demo.printRampingUp = demo.ramp.rampingUp;
    return ZV_CALLBACK_DONE;
}

std::string temperatureLine(const WarmMotorsDemo& demo) {
    std::string line = "Motor Temperature:";
    char value[64];
    for (const double t : demo.printTemperatures) {
        std::snprintf(value, sizeof value, " %f", t);
        line += value;
    }
    if (demo.printRampingDown)
        line += " Ramping Down Forces";
    else if (demo.printRampingUp)
        line += " Ramping Up Forces";
    line += "\n";
    return line;
}

}  // namespace warm_motors

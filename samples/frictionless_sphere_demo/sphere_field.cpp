#include "sphere_field.h"

#include <cmath>
#include <cstdio>

#include "error_report.h"

namespace frictionless_sphere {

// A frictionless surface pushes only along its normal, and for a sphere the
// normal is the radius through the device. The push grows linearly with the
// penetration depth (a spring of stiffness 0.25), so the deeper the user
// presses, the harder the sphere resists. At the centre there is no outward
// direction, so no force.
bool sphereForce(const double position[3], double force[3]) {
    const double distance =
        std::sqrt(position[0] * position[0] + position[1] * position[1] + position[2] * position[2]);
    if (distance >= kSphereRadius) return false;
    const double penetration = kSphereRadius - distance;
    for (int i = 0; i < 3; ++i) {
        const double direction = distance > 0.0 ? position[i] / distance : 0.0;
        force[i] = direction * penetration * kStiffness;
    }
    return true;
}

// Runs once per servo tick (1000 times a second). Everything between
// zvBeginFrame and zvEndFrame sees one consistent snapshot of the device, and
// the force set here is sent when the frame ends. Outside the sphere no force
// is set, and a frame that sets none sends zero.
ZVCallbackCode sphereCallback(void*) {
    const HZV device = zvGetCurrentDevice();
    zvBeginFrame(device);

    double position[3];
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    double force[3];
    if (sphereForce(position, force)) zvSetDoublev(ZV_CURRENT_FORCE, force);

    zvEndFrame(device);

    // A communication or scheduler error means the device is gone or the
    // servo loop is failing: stop rendering. Anything else is reported and
    // rendering goes on.
    const ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Error during main scheduler callback\n");
        if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
    }
    return ZV_CALLBACK_CONTINUE;
}

}  // namespace frictionless_sphere

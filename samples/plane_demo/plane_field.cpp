#include "plane_field.h"

#include <cmath>
#include <cstdio>

#include "error_report.h"

namespace plane {

namespace {
// Which side the plane pushes towards; only the servo callback touches it.
int gPlaneDirection = 1;
}  // namespace

// The plane is a spring along its normal that acts only on the side the
// device is not supposed to be. y exactly 0 already counts as touching, with
// zero force. When the user pushes hard enough to need more than the
// pop-through force, the plane gives way: it sends nothing this tick and from
// now on faces the other way, so the device, now on the other side, is free
// until it comes back across.
bool planeForce(double y, int& direction, double force[3]) {
    const bool penetrating = (y <= 0.0 && direction > 0) || (y > 0.0 && direction < 0);
    if (!penetrating) return false;
    force[0] = 0.0;
    force[1] = direction * std::fabs(y) * kStiffness;
    force[2] = 0.0;
    if (std::fabs(force[1]) > kPopThroughForce) {
        direction = -direction;
        return false;
    }
    return true;
}

ZVCallbackCode planeCallback(void*) {
    const HZV device = zvGetCurrentDevice();
    zvBeginFrame(device);

    double position[3];
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    double force[3];
    if (planeForce(position[1], gPlaneDirection, force)) zvSetDoublev(ZV_CURRENT_FORCE, force);

    zvEndFrame(device);

    const ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Error detected during main scheduler callback\n");
        if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
    }
    return ZV_CALLBACK_CONTINUE;
}

}  // namespace plane

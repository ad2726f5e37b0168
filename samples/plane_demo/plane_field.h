// The force field of the plane demo: a one-sided plane along y = 0 that the
// user can push through.
#pragma once

#include "zv/zv.h"

namespace plane {

constexpr double kStiffness = 0.25;
// A push that needs more force than this pops the device through the plane.
constexpr double kPopThroughForce = 5.0;

// The plane's force for a device at height y, given which side the plane
// currently pushes towards (`direction` +1: towards +y, the user is above
// it; -1: towards -y). Returns true with `force` set when the force must be
// written; false when the device is on the free side, or when it has just
// popped through, in which case `direction` has been flipped.
bool planeForce(double y, int& direction, double force[3]);

// Servo callback: renders the plane on the current device every tick, with
// the program-wide plane direction. Takes no user data.
ZVCallbackCode planeCallback(void* userData);

}  // namespace plane

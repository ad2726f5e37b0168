// The force field of the frictionless sphere demo: a sphere of radius 40
// centred on the workspace origin that pushes the device out whenever it is
// inside.
#pragma once

#include "zv/zv.h"

namespace frictionless_sphere {

constexpr double kSphereRadius = 40.0;
constexpr double kStiffness = 0.25;

// The force the sphere applies at `position`. Returns false when the
// position is outside the sphere (or on its surface), where the sphere
// applies no force; `force` is then left alone.
bool sphereForce(const double position[3], double force[3]);

// Servo callback: renders the sphere on the current device every tick.
// Takes no user data.
ZVCallbackCode sphereCallback(void* userData);

}  // namespace frictionless_sphere

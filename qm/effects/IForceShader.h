// The servo-side half of an effect: a force added to the device's force
// every tick while the effect runs.
#pragma once

#include "qm/servo/MotionTransform.h"
#include "zvu/Vector3D.h"

namespace QM {

class IDeviceLimits;

// Every call runs on the servo thread (or inline, exclusive with ticks)
// and must neither throw nor allocate. `data` is the per-effect state the
// pipeline keeps for the shader.
class IForceShader {
public:
    virtual ~IForceShader() = default;
    virtual void start(const ITarget& device, const MotionTransform& output, void* data) noexcept = 0;
    virtual void stop(const ITarget& device, const MotionTransform& output, void* data) noexcept = 0;
    virtual void update(const ITarget& device, const MotionTransform& output, void* argument, void* data) noexcept = 0;
    // Adds the effect's force and torque to the accumulators.
    virtual void computeForce(const ITarget& device, const MotionTransform& output, void* data,
                              const IDeviceLimits& limits, zvu::zvuVector3Dd& force,
                              zvu::zvuVector3Dd& torque) noexcept = 0;
};

}  // namespace QM

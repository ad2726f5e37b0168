// The force shaders of the effects. Each is stateless: everything it keeps
// lives in the effect's servo map, which the pipeline hands it as `data`
// (an AttributeMap*). The argument of update is the map of the effect whose
// properties the running one takes (a const IAttributeMap*).
//
// Whatever the properties say, a shader adds only a finite force no longer
// than the device's nominal maximum force: a value that is not a number or
// overflows adds nothing.
#pragma once

#include "qm/effects/IForceShader.h"

namespace QM {

class AttributeMap;

// Start and stop do nothing; update copies the shader's groups.
class EffectForceShader : public IForceShader {
public:
    void start(const ITarget& device, const MotionTransform& output, void* data) noexcept override;
    void stop(const ITarget& device, const MotionTransform& output, void* data) noexcept override;
    void update(const ITarget& device, const MotionTransform& output, void* argument, void* data) noexcept override;

protected:
    explicit EffectForceShader(unsigned updateGroups) : updateGroups_(updateGroups) {}

private:
    unsigned updateGroups_;
};

// F = direction x min(3, nominal maximum force) x magnitude; the direction
// as stored, so its length scales the force.
class ConstantForceShader final : public EffectForceShader {
public:
    ConstantForceShader();
    void computeForce(const ITarget& device, const MotionTransform& output, void* data, const IDeviceLimits& limits,
                      zvu::zvuVector3Dd& force, zvu::zvuVector3Dd& torque) noexcept override;
};

// F = -(nominal maximum damping x gain) x device velocity, no longer than
// the magnitude's force.
class ViscousForceShader final : public EffectForceShader {
public:
    ViscousForceShader();
    void computeForce(const ITarget& device, const MotionTransform& output, void* data, const IDeviceLimits& limits,
                      zvu::zvuVector3Dd& force, zvu::zvuVector3Dd& torque) noexcept override;
};

// F = (nominal maximum stiffness x gain) x (position - output point), no
// longer than the magnitude's force.
class SpringForceShader final : public EffectForceShader {
public:
    SpringForceShader();
    void computeForce(const ITarget& device, const MotionTransform& output, void* data, const IDeviceLimits& limits,
                      zvu::zvuVector3Dd& force, zvu::zvuVector3Dd& torque) noexcept override;
};

// A spring toward an anchor that starts at the output point and is dragged
// along: when the spring's pull exceeds the magnitude's force, the anchor is
// moved to one unit from the output point, in the direction of the pull,
// and the force is cut to that force. The anchor is the effect's position.
class FrictionForceShader final : public EffectForceShader {
public:
    FrictionForceShader();
    void start(const ITarget& device, const MotionTransform& output, void* data) noexcept override;
    void computeForce(const ITarget& device, const MotionTransform& output, void* data, const IDeviceLimits& limits,
                      zvu::zvuVector3Dd& force, zvu::zvuVector3Dd& torque) noexcept override;
};

// Calls the application: start and stop callbacks with a state cache over
// the effect's servo map, and the compute-force callback with a copy of the
// tick's force, of which only a finite change is taken. The cache holds the
// output point's pose (QM_PROXY_POSITION, QM_PROXY_ROTATION,
// QM_PROXY_TRANSFORM) in workspace coordinates.
class CallbackForceShader final : public EffectForceShader {
public:
    CallbackForceShader();
    void start(const ITarget& device, const MotionTransform& output, void* data) noexcept override;
    void stop(const ITarget& device, const MotionTransform& output, void* data) noexcept override;
    void computeForce(const ITarget& device, const MotionTransform& output, void* data, const IDeviceLimits& limits,
                      zvu::zvuVector3Dd& force, zvu::zvuVector3Dd& torque) noexcept override;
};

}  // namespace QM

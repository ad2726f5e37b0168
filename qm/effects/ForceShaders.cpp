#include "qm/effects/ForceShaders.h"

#include <cmath>

#include "qm/api/Symbols.h"
#include "qm/effects/Effects.h"
#include "qm/servo/HapticDevice.h"
#include "qm/state/StateCache.h"

namespace QM {

namespace {

AttributeMap& mapOf(void* data) { return *static_cast<AttributeMap*>(data); }

// A fraction in [0, 1]; what is not a number counts as 0.
double unit(double x) { return x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0; }

double scalarOf(const AttributeMap& map, QMenum key) {
    double value = 0.0;
    map.get<double>(key, value);
    return value;
}

zvu::zvuVector3Dd vectorOf(const AttributeMap& map, QMenum key) {
    double v[3] = {0.0, 0.0, 0.0};
    map.getArray<double>(key, v);
    return {v[0], v[1], v[2]};
}

void setVector(AttributeMap& map, QMenum key, const zvu::zvuVector3Dd& v) {
    const double values[3] = {v.x, v.y, v.z};
    map.setArray<double>(key, values);
}

bool finite(const zvu::zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The force of magnitude 1: min(3, the nominal maximum force).
double effectForce(const AttributeMap& map, const IDeviceLimits& limits) {
    return limits.effectForce(unit(scalarOf(map, QM_EFFECT_PROPERTY_MAGNITUDE)));
}

// The length without overflow for components near the largest double.
double lengthOf(const zvu::zvuVector3Dd& f) { return std::hypot(f.x, f.y, f.z); }

// Cuts a force longer than m to m along its direction.
zvu::zvuVector3Dd capped(const zvu::zvuVector3Dd& f, double m) {
    const double length = lengthOf(f);
    return length > m ? f * (m / length) : f;
}

// The last guard before the accumulator: a force that is not finite adds
// nothing, and none adds more than the device's nominal maximum.
void addForce(zvu::zvuVector3Dd& accumulator, const zvu::zvuVector3Dd& f, const IDeviceLimits& limits) {
    if (!finite(f)) {
        return;
    }
    const double most = limits.maxForce(1.0);
    accumulator += most > 0.0 ? capped(f, most) : f;
}

// Runs an application callback; nothing it throws goes further.
template <typename Call>
void guarded(Call&& call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

// The output point's pose goes into the servo map just before a callback
// reads it through its cache.
void writePose(AttributeMap& map, const MotionTransform& output) {
    setVector(map, QM_PROXY_POSITION, output.position());
    const zvu::zvuQuaternion& r = output.rotation();
    const double rotation[4] = {r.w, r.x, r.y, r.z};
    map.setArray<double>(QM_PROXY_ROTATION, rotation);
    map.setArray<double>(QM_PROXY_TRANSFORM, output.transform().data());
}

void callStartStop(QMenum function, QMenum userData, const MotionTransform& output, void* data) noexcept {
    AttributeMap& map = mapOf(data);
    AttribCallback callback = nullptr;
    void* user = nullptr;
    if (!map.get<AttribCallback>(function, callback) || callback == nullptr) {
        return;
    }
    map.get<void*>(userData, user);
    writePose(map, output);
    StateCacheWrapper cache(map);
    guarded([&] {
        reinterpret_cast<QMeffectStartStopProc>(callback)(reinterpret_cast<QMcache>(static_cast<IStateCache*>(&cache)),
                                                          user);
    });
}

}  // namespace

void EffectForceShader::start(const ITarget&, const MotionTransform&, void*) noexcept {}

void EffectForceShader::stop(const ITarget&, const MotionTransform&, void*) noexcept {}

void EffectForceShader::update(const ITarget&, const MotionTransform&, void* argument, void* data) noexcept {
    if (argument == nullptr || data == nullptr) {
        return;
    }
    guarded([&] { copyEffectGroups(mapOf(data), *static_cast<const IAttributeMap*>(argument), updateGroups_); });
}

ConstantForceShader::ConstantForceShader() : EffectForceShader(kEffectBase | kEffectGeometry) {}

void ConstantForceShader::computeForce(const ITarget&, const MotionTransform&, void* data, const IDeviceLimits& limits,
                                       zvu::zvuVector3Dd& force, zvu::zvuVector3Dd&) noexcept {
    const AttributeMap& map = mapOf(data);
    addForce(force, vectorOf(map, QM_EFFECT_PROPERTY_DIRECTION) * effectForce(map, limits), limits);
}

ViscousForceShader::ViscousForceShader() : EffectForceShader(kEffectBase) {}

void ViscousForceShader::computeForce(const ITarget& device, const MotionTransform&, void* data,
                                      const IDeviceLimits& limits, zvu::zvuVector3Dd& force,
                                      zvu::zvuVector3Dd&) noexcept {
    const AttributeMap& map = mapOf(data);
    const double b = limits.maxDamping(unit(scalarOf(map, QM_EFFECT_PROPERTY_GAIN)));
    addForce(force, capped(device.linearVelocity() * -b, effectForce(map, limits)), limits);
}

SpringForceShader::SpringForceShader() : EffectForceShader(kEffectBase | kEffectGeometry) {}

void SpringForceShader::computeForce(const ITarget&, const MotionTransform& output, void* data,
                                     const IDeviceLimits& limits, zvu::zvuVector3Dd& force,
                                     zvu::zvuVector3Dd&) noexcept {
    const AttributeMap& map = mapOf(data);
    const double k = limits.maxStiffness(unit(scalarOf(map, QM_EFFECT_PROPERTY_GAIN)));
    const zvu::zvuVector3Dd pull = (vectorOf(map, QM_EFFECT_PROPERTY_POSITION) - output.position()) * k;
    addForce(force, capped(pull, effectForce(map, limits)), limits);
}

FrictionForceShader::FrictionForceShader() : EffectForceShader(kEffectBase) {}

void FrictionForceShader::start(const ITarget&, const MotionTransform& output, void* data) noexcept {
    setVector(mapOf(data), QM_EFFECT_PROPERTY_POSITION, output.position());
}

void FrictionForceShader::computeForce(const ITarget&, const MotionTransform& output, void* data,
                                       const IDeviceLimits& limits, zvu::zvuVector3Dd& force,
                                       zvu::zvuVector3Dd&) noexcept {
    AttributeMap& map = mapOf(data);
    const zvu::zvuVector3Dd p = output.position();
    zvu::zvuVector3Dd anchor = vectorOf(map, QM_EFFECT_PROPERTY_POSITION);
    const double k = limits.maxStiffness(unit(scalarOf(map, QM_EFFECT_PROPERTY_GAIN)));
    const double m = effectForce(map, limits);
    zvu::zvuVector3Dd f = (anchor - p) * k;
    if (!finite(f)) {
        // An anchor lost to overflow starts again at the output point.
        setVector(map, QM_EFFECT_PROPERTY_POSITION, p);
        return;
    }
    const double length = lengthOf(f);
    if (length > m) {
        anchor = p + f / length;
        f = f * (m / length);
        setVector(map, QM_EFFECT_PROPERTY_POSITION, anchor);
    }
    addForce(force, f, limits);
}

CallbackForceShader::CallbackForceShader() : EffectForceShader(kEffectBase | kEffectCallbacks) {}

void CallbackForceShader::start(const ITarget&, const MotionTransform& output, void* data) noexcept {
    callStartStop(QM_EFFECT_START, QM_INT_EFFECT_START_USER_DATA, output, data);
}

void CallbackForceShader::stop(const ITarget&, const MotionTransform& output, void* data) noexcept {
    callStartStop(QM_EFFECT_STOP, QM_INT_EFFECT_STOP_USER_DATA, output, data);
}

// The callback sees the force accumulated so far and may add to it; it
// works on a copy, so a value that is not a number never reaches the
// accumulator.
void CallbackForceShader::computeForce(const ITarget&, const MotionTransform& output, void* data,
                                       const IDeviceLimits& limits, zvu::zvuVector3Dd& force,
                                       zvu::zvuVector3Dd&) noexcept {
    AttributeMap& map = mapOf(data);
    AttribCallback callback = nullptr;
    void* user = nullptr;
    if (!map.get<AttribCallback>(QM_EFFECT_COMPUTE_FORCE, callback) || callback == nullptr) {
        return;
    }
    map.get<void*>(QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, user);
    writePose(map, output);
    StateCacheWrapper cache(map);
    double tick[3] = {force.x, force.y, force.z};
    guarded([&] {
        reinterpret_cast<QMeffectComputeForceProc>(callback)(
            tick, reinterpret_cast<QMcache>(static_cast<IStateCache*>(&cache)), user);
    });
    addForce(force, zvu::zvuVector3Dd{tick[0], tick[1], tick[2]} - force, limits);
}

}  // namespace QM

#include "qm/servo/ProxyShaders.h"

#include <cmath>

#include "qm/api/Symbols.h"

namespace QM {

namespace {

zvu::zvuVector3Dd readVector(const AttributeMap& map, QMenum key, const zvu::zvuVector3Dd& otherwise) {
    double v[3];
    return map.getArray<double>(key, v) ? zvu::zvuVector3Dd{v[0], v[1], v[2]} : otherwise;
}

void writeVector(AttributeMap& map, QMenum key, const zvu::zvuVector3Dd& value) {
    const double v[3] = {value.x, value.y, value.z};
    map.setArray<double>(key, v);
}

bool finite(const zvu::zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Moves the rendered point within the tick: its last position stays the
// one of the previous tick, so that R - R_last remains a velocity whatever
// the shaders before did.
void setRendered(IProxy& proxy, const zvu::zvuVector3Dd& position) {
    MotionTransform& rendered = *proxy.motionTransform(3);
    const zvu::zvuVector3Dd last = rendered.lastPosition();
    rendered.setPosition(position);
    rendered.setLastPosition(last);
}

}  // namespace

double materialValue(const IProxy& proxy, QMenum property, const zvu::zvuVector3Dd& device) noexcept {
    double weighted = 0.0;
    double distances = 0.0;
    double plain = 0.0;
    int count = 0;
    for (const LocalIntersectionInfo& record : proxy.collisionSet()) {
        if (record.feature == nullptr) {
            continue;
        }
        float value = 0.0f;
        if (!record.feature->getAttributes().get<float>(property, value) || !std::isfinite(value)) {
            continue;
        }
        const double d = (device - record.feature->closestPoint(device)).length();
        if (!std::isfinite(d)) {
            continue;
        }
        weighted += value * d;
        distances += d;
        plain += value;
        ++count;
    }
    if (count == 0) {
        return 0.0;
    }
    return distances > 0.0 ? weighted / distances : plain / count;
}

// ---------------------------------------------------------------- friction

void FrictionShader::prepare(IProxy& proxy) const {
    proxy.controlParameters().declareArray<double>(QM_INT_FRICTION_PROXY_POS, 3);
}

// The rendered point stays on an anchor that the proxy drags along only
// once it has moved farther from the anchor than the static friction lets
// it (a cone of half-angle atan(mu_s) around the device's pull), and then
// by the fraction the dynamic friction leaves.
void FrictionShader::shade(const ITarget& device, IProxy& proxy) const noexcept {
    AttributeMap& controls = proxy.controlParameters();
    const zvu::zvuVector3Dd p = proxy.motionTransform(2)->position();
    zvu::zvuVector3Dd anchor = readVector(controls, QM_INT_FRICTION_PROXY_POS, p);
    if (!proxy.isTouching() || !finite(anchor)) {
        writeVector(controls, QM_INT_FRICTION_PROXY_POS, p);
        return;
    }
    const double staticFriction = materialValue(proxy, QM_STATIC_FRICTION, device.position());
    const double dynamicFriction = materialValue(proxy, QM_DYNAMIC_FRICTION, device.position());
    if ((anchor - p).length() > staticFriction * (device.position() - p).length()) {
        anchor += (p - anchor) * (1.0 - dynamicFriction);
    }
    writeVector(controls, QM_INT_FRICTION_PROXY_POS, anchor);
    setRendered(proxy, anchor);
}

void FrictionShader::proxyMoved(IProxy& proxy, const zvu::zvuVector3Dd& displacement) const noexcept {
    AttributeMap& controls = proxy.controlParameters();
    double v[3];
    if (controls.getArray<double>(QM_INT_FRICTION_PROXY_POS, v)) {
        writeVector(controls, QM_INT_FRICTION_PROXY_POS, zvu::zvuVector3Dd{v[0], v[1], v[2]} + displacement);
    }
}

// ---------------------------------------------------------------- stiffness

// A softer surface pulls the rendered point toward the device: R becomes
// device + s (R - device).
void StiffnessShader::shade(const ITarget& device, IProxy& proxy) const noexcept {
    if (!proxy.isTouching()) {
        return;
    }
    const double s = materialValue(proxy, QM_STIFFNESS, device.position());
    const zvu::zvuVector3Dd d = device.position();
    setRendered(proxy, d + (proxy.motionTransform(3)->position() - d) * s);
}

// ---------------------------------------------------------------- damping

void DampingShader::prepare(IProxy& proxy) const {
    proxy.controlParameters().declareArray<double>(QM_INT_DAMPING_SMOOTHED_VELOCITY, 3);
}

// A smoothed velocity u of the rendered point; when the device moves along
// u relative to R (g = e . u > 0), R is pulled toward the device by the part
// of u along e, scaled by the damping. u starts from rest: it is a velocity,
// and starting it at the proxy's position would pull R away by a fraction
// of its distance from the origin at the first touch.
void DampingShader::shade(const ITarget& device, IProxy& proxy) const noexcept {
    AttributeMap& controls = proxy.controlParameters();
    const MotionTransform& rendered = *proxy.motionTransform(3);
    zvu::zvuVector3Dd u = readVector(controls, QM_INT_DAMPING_SMOOTHED_VELOCITY, {0.0, 0.0, 0.0});
    if (!proxy.isTouching()) {
        return;
    }
    if (!finite(u)) {
        u = {0.0, 0.0, 0.0};
    }
    const double c = materialValue(proxy, QM_DAMPING, device.position());
    u = (u * 9.0 + (rendered.position() - rendered.lastPosition())) / 10.0;
    const zvu::zvuVector3Dd e = device.position() - rendered.position();
    const double g = e.dot(u);
    const double e2 = e.lengthSquared();
    if (g > 0.0 && e2 > 0.0) {
        setRendered(proxy, rendered.position() - e * (g / e2 * c));
    }
    writeVector(controls, QM_INT_DAMPING_SMOOTHED_VELOCITY, u);
}

}  // namespace QM

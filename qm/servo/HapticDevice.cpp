#include "qm/servo/HapticDevice.h"

#include <cmath>

#include "zvu/Matrix.h"
#include "zvu/Quaternion.h"

namespace QM {

namespace {

double readDouble(ZVenum parameter) {
    double value = 0.0;
    zvGetDoublev(parameter, &value);
    return std::isfinite(value) ? value : 0.0;
}

zvu::zvuVector3Dd readVector(ZVenum parameter) {
    double v[3] = {0.0, 0.0, 0.0};
    zvGetDoublev(parameter, v);
    return {v[0], v[1], v[2]};
}

zvu::zvuQuaternion readRotation(ZVenum parameter) {
    zvu::zvuMatrix m;
    zvGetDoublev(parameter, m.data());
    return zvu::zvuQuaternion::fromMatrix(m);
}

bool finite(const zvu::zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

// ---------------------------------------------------------------- controller

zvu::zvuVector3Dd SpringDamperController::computeForce(const ITarget& target, const MotionTransform& output) const {
    const zvu::zvuVector3Dd d = output.position() - target.position();
    zvu::zvuVector3Dd force = d * k_;
    const double d2 = d.lengthSquared();
    if (d2 > 1e-10) {
        force -= d * (b_ * d.dot(target.linearVelocity()) / d2);
    }
    return force;
}

zvu::zvuVector3Dd SpringDamperController::computeTorque(const ITarget& target, const MotionTransform& output) const {
    const zvu::zvuQuaternion delta = output.rotation() * target.rotation().conjugate();
    const double c = 2.0 * kr_ * delta.w;
    zvu::zvuVector3Dd torque{c * delta.x, c * delta.y, c * delta.z};
    const double t2 = torque.lengthSquared();
    if (t2 > 1e-10) {
        const double s = torque.dot(target.angularVelocity()) / t2;
        torque -= torque * (s * br_);
    }
    torque.x *= 1.5;
    torque.y *= 1.5;
    return torque;
}

// ---------------------------------------------------------------- device

double HapticDevice::scaled(double x, double value) {
    const double t = std::isnan(x) ? 0.0 : (x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x));
    return t * value;
}

HapticDevice::Nominal HapticDevice::readNominal(HZV handle) {
    DeviceScope scope(handle);
    return {readDouble(ZV_NOMINAL_MAX_STIFFNESS), readDouble(ZV_NOMINAL_MAX_DAMPING), readDouble(ZV_NOMINAL_MAX_FORCE),
            readDouble(ZV_NOMINAL_MAX_CONTINUOUS_FORCE)};
}

HapticDevice::HapticDevice(HZV handle) : HapticDevice(handle, readNominal(handle)) {}

HapticDevice::HapticDevice(HZV handle, const Nominal& nominal)
    : handle_(handle),
      nominalStiffness_(nominal.stiffness),
      nominalDamping_(nominal.damping),
      nominalForce_(nominal.force),
      nominalContinuousForce_(nominal.continuousForce),
      controller_(nominal.stiffness, 0.0, 600.0, 0.0) {
    DeviceScope scope(handle_);
    zvEnable(ZV_FORCE_OUTPUT);
    zvDisable(ZV_ONE_FRAME_LIMIT);
    zvEnable(ZV_MAX_FORCE_CLAMPING);
    zvEnable(ZV_FORCE_RAMPING);
}

void HapticDevice::beginFrame() {
    DeviceScope scope(handle_);
    zvBeginFrame(handle_);
    ++frames_;
}

void HapticDevice::readState(HapticDeviceTarget& target) {
    DeviceScope scope(handle_);
    MotionTransform& motion = target.motion();
    motion.set(readVector(ZV_CURRENT_POSITION), readRotation(ZV_CURRENT_TRANSFORM));
    motion.setLastPosition(readVector(ZV_LAST_POSITION));
    motion.setLastRotation(readRotation(ZV_LAST_TRANSFORM));
    target.setLinearVelocity(readVector(ZV_CURRENT_VELOCITY));
    target.setAngularVelocity(readVector(ZV_CURRENT_ANGULAR_VELOCITY));
}

void HapticDevice::endFrame() {
    DeviceScope scope(handle_);
    zvEndFrame(handle_);
}

int HapticDevice::collectErrors() {
    int fresh = 0;
    for (ZVErrorInfo e = zvGetDeviceError(handle_); e.errorCode != ZV_SUCCESS; e = zvGetDeviceError(handle_)) {
        bool known = false;
        for (std::size_t i = 0; i < pendingCount_; ++i) {
            const DeviceError& p = pending_[i];
            known = known || (p.errorCode == e.errorCode && p.internalErrorCode == e.internalErrorCode &&
                              p.deviceHandle == e.deviceHandle);
        }
        if (known) {
            continue;
        }
        ++fresh;
        // A full list keeps its oldest records: they say what went wrong
        // first.
        if (pendingCount_ < pending_.size()) {
            pending_[pendingCount_++] = e;
        }
    }
    return fresh;
}

std::size_t HapticDevice::takeErrors(DeviceError* out, std::size_t capacity) {
    const std::size_t n = pendingCount_ < capacity ? pendingCount_ : capacity;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = pending_[i];
    }
    pendingCount_ = 0;
    return n;
}

void HapticDevice::addForceAndTorque(const zvu::zvuVector3Dd& force, const zvu::zvuVector3Dd& torque) {
    DeviceScope scope(handle_);
    double f[3] = {0.0, 0.0, 0.0};
    double t[3] = {0.0, 0.0, 0.0};
    zvGetDoublev(ZV_CURRENT_FORCE, f);
    zvGetDoublev(ZV_CURRENT_TORQUE, t);
    zvu::zvuVector3Dd total{f[0] + force.x, f[1] + force.y, f[2] + force.z};
    zvu::zvuVector3Dd totalTorque{t[0] + torque.x, t[1] + torque.y, t[2] + torque.z};
    if (!finite(total)) {
        total = {0.0, 0.0, 0.0};
    }
    if (!finite(totalTorque)) {
        totalTorque = {0.0, 0.0, 0.0};
    }
    const double magnitude = total.length();
    if (nominalForce_ > 0.0 && magnitude > nominalForce_) {
        total *= nominalForce_ / magnitude;
    }
    const double outF[3] = {total.x, total.y, total.z};
    const double outT[3] = {totalTorque.x, totalTorque.y, totalTorque.z};
    zvSetDoublev(ZV_CURRENT_FORCE, outF);
    zvSetDoublev(ZV_CURRENT_TORQUE, outT);
}

void HapticDevice::lastForceAndTorque(double force[3], double torque[3]) {
    DeviceScope scope(handle_);
    zvGetDoublev(ZV_LAST_FORCE, force);
    zvGetDoublev(ZV_LAST_TORQUE, torque);
}

int HapticDevice::buttons() {
    DeviceScope scope(handle_);
    ZVint value = 0;
    zvGetIntegerv(ZV_CURRENT_BUTTONS, &value);
    return value;
}

bool HapticDevice::safetySwitch() {
    DeviceScope scope(handle_);
    ZVboolean value = 0;
    zvGetBooleanv(ZV_CURRENT_SAFETY_SWITCH, &value);
    return value != 0;
}

bool HapticDevice::inkwellSwitch() {
    DeviceScope scope(handle_);
    ZVboolean value = 0;
    zvGetBooleanv(ZV_CURRENT_INKWELL_SWITCH, &value);
    return value != 0;
}

unsigned HapticDevice::checkCalibration() {
    DeviceScope scope(handle_);
    return zvCheckCalibration();
}

void HapticDevice::updateCalibration() {
    DeviceScope scope(handle_);
    ZVint styles = 0;
    zvGetIntegerv(ZV_CALIBRATION_STYLE, &styles);
    int style = styles;
    if (styles & ZV_CALIBRATION_AUTO) {
        style = ZV_CALIBRATION_AUTO;
    } else if (styles & ZV_CALIBRATION_INKWELL) {
        style = ZV_CALIBRATION_INKWELL;
    } else if (styles & ZV_CALIBRATION_ENCODER_RESET) {
        style = ZV_CALIBRATION_ENCODER_RESET;
    }
    zvUpdateCalibration(style);
}

}  // namespace QM

// Poses that move: the device's and the proxy's.
//
// A MotionTransform is a position and a unit rotation together with the
// values they had before the last change, so that a stage can tell how far
// something moved during one tick. Everything here is a plain value type:
// no allocation, no locking, nothing thrown, usable on the servo thread.
#pragma once

#include "zvu/Matrix.h"
#include "zvu/Quaternion.h"
#include "zvu/Vector3D.h"

namespace QM {

class MotionTransform {
public:
    // At the origin with the identity rotation, now and last.
    constexpr MotionTransform() noexcept = default;

    const zvu::zvuVector3Dd& position() const noexcept { return position_; }
    const zvu::zvuQuaternion& rotation() const noexcept { return rotation_; }
    const zvu::zvuVector3Dd& lastPosition() const noexcept { return lastPosition_; }
    const zvu::zvuQuaternion& lastRotation() const noexcept { return lastRotation_; }

    // Setting a value first moves the current one into the last one.
    void setPosition(const zvu::zvuVector3Dd& position) noexcept {
        lastPosition_ = position_;
        position_ = position;
    }
    void setRotation(const zvu::zvuQuaternion& rotation) noexcept {
        lastRotation_ = rotation_;
        rotation_ = rotation;
    }
    void set(const zvu::zvuVector3Dd& position, const zvu::zvuQuaternion& rotation) noexcept {
        setPosition(position);
        setRotation(rotation);
    }
    // The last values are set as they are (used to copy a motion state).
    void setLastPosition(const zvu::zvuVector3Dd& position) noexcept { lastPosition_ = position; }
    void setLastRotation(const zvu::zvuQuaternion& rotation) noexcept { lastRotation_ = rotation; }

    // Rotation followed by translation, as a matrix for points.
    zvu::zvuMatrix transform() const noexcept { return compose(position_, rotation_); }
    zvu::zvuMatrix lastTransform() const noexcept { return compose(lastPosition_, lastRotation_); }

private:
    static zvu::zvuMatrix compose(const zvu::zvuVector3Dd& p, const zvu::zvuQuaternion& q) noexcept {
        zvu::zvuMatrix m = q.toMatrix();
        m[12] = p.x;
        m[13] = p.y;
        m[14] = p.z;
        return m;
    }

    zvu::zvuVector3Dd position_{};
    zvu::zvuQuaternion rotation_{};
    zvu::zvuVector3Dd lastPosition_{};
    zvu::zvuQuaternion lastRotation_{};
};

// Something the proxy moves toward: a pose that moves, with its velocities.
class ITarget {
public:
    virtual ~ITarget() = default;

    virtual const MotionTransform& motion() const noexcept = 0;
    virtual MotionTransform& motion() noexcept = 0;
    virtual const zvu::zvuVector3Dd& linearVelocity() const noexcept = 0;
    virtual const zvu::zvuVector3Dd& angularVelocity() const noexcept = 0;

    const zvu::zvuVector3Dd& position() const noexcept { return motion().position(); }
    const zvu::zvuQuaternion& rotation() const noexcept { return motion().rotation(); }

    // Copies the current and last position and rotation into `out`, leaving
    // them exactly as they are here (no shift of current into last).
    void copyMotionState(MotionTransform& out) const noexcept {
        const MotionTransform& m = motion();
        out.set(m.position(), m.rotation());
        out.setLastPosition(m.lastPosition());
        out.setLastRotation(m.lastRotation());
    }
};

// The device's stylus as a target: its pose and velocities, filled from the
// device every tick.
class HapticDeviceTarget final : public ITarget {
public:
    HapticDeviceTarget() noexcept = default;

    const MotionTransform& motion() const noexcept override { return motion_; }
    MotionTransform& motion() noexcept override { return motion_; }
    const zvu::zvuVector3Dd& linearVelocity() const noexcept override { return linearVelocity_; }
    const zvu::zvuVector3Dd& angularVelocity() const noexcept override { return angularVelocity_; }
    void setLinearVelocity(const zvu::zvuVector3Dd& v) noexcept { linearVelocity_ = v; }
    void setAngularVelocity(const zvu::zvuVector3Dd& v) noexcept { angularVelocity_ = v; }

    // A target resting at `position` with `rotation` (last values alike).
    void place(const zvu::zvuVector3Dd& position, const zvu::zvuQuaternion& rotation = {}) noexcept {
        motion_.set(position, rotation);
        motion_.setLastPosition(position);
        motion_.setLastRotation(rotation);
    }

private:
    MotionTransform motion_;
    zvu::zvuVector3Dd linearVelocity_{};
    zvu::zvuVector3Dd angularVelocity_{};
};

}  // namespace QM

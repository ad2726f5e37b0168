#include "physics.h"

#include <algorithm>

namespace korvo::sim {

StylusPhysics::StylusPhysics(const StylusMechanics& mechanics, const Vec3& start) noexcept
    : mech_(mechanics), position_(start), handTarget_(start) {}

void StylusPhysics::place(const Vec3& p) noexcept {
    position_ = p;
    velocity_ = {};
    handTarget_ = p;
    handVelocity_ = {};
}

void StylusPhysics::setHandTarget(const Vec3& target) noexcept {
    handTarget_ = target;
    handVelocity_ = {};
}

void StylusPhysics::moveHandTarget(const Vec3& target, double dt) noexcept {
    handVelocity_ = dt > 0.0 ? (target - handTarget_) / dt : Vec3{};
    handTarget_ = target;
}

void StylusPhysics::setHandGains(double stiffness, double damping) noexcept {
    handStiffness_ = stiffness;
    handDamping_ = damping;
}

// One step of semi-implicit Euler in which the hand's spring and damper and
// the viscous friction are taken at the end of the step (so any grip the user
// sets stays stable), while the motor force is held from the last command as
// a zero-order hold, exactly as an amplifier holds its output between ticks.
// With c = dt / m (converted to mm/s per newton):
//   v' (1 + c dt k + c (b_hand + b_visc)) = v + c (F + k (target - x) + b_hand v_hand)
//   x' = x + dt v'
// Coulomb friction then removes up to c * f_c of speed, stopping the stylus
// when that is all it has (static friction). The end stops are inelastic: a
// coordinate past a stop is put back on it and its outward speed is dropped.
void StylusPhysics::step(double dt, const Vec3& appliedForce) noexcept {
    const double c = 1000.0 * dt / mech_.mass;
    const double k = handStiffness_;
    const double bSum = handDamping_ + mech_.viscousFriction;
    const Vec3 drive = appliedForce + (handTarget_ - position_) * k + handVelocity_ * handDamping_;
    Vec3 v = (velocity_ + drive * c) / (1.0 + c * dt * k + c * bSum);

    const double frictionDv = c * mech_.coulombFriction;
    const double speed = norm(v);
    if (speed <= frictionDv)
        v = {};
    else
        v *= (speed - frictionDv) / speed;

    Vec3 p = position_ + v * dt;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double lo = mech_.endStops[axis * 2];
        const double hi = mech_.endStops[axis * 2 + 1];
        if (p[axis] < lo) {
            p[axis] = lo;
            v[axis] = std::max(v[axis], 0.0);
        } else if (p[axis] > hi) {
            p[axis] = hi;
            v[axis] = std::min(v[axis], 0.0);
        }
    }
    position_ = p;
    velocity_ = v;
}

}  // namespace korvo::sim

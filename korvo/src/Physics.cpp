#include "Physics.h"

#include <algorithm>
#include <cmath>

namespace korvo::sim {

namespace {

// Millimetres per second squared per newton and kilogram.
constexpr double kAccelerationPerNewton = 1000.0;

using Mat4 = std::array<double, 16>;  // row-major

Mat4 multiply(const Mat4& a, const Mat4& b) noexcept {
    Mat4 r{};
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t k = 0; k < 4; ++k) {
            const double aik = a[i * 4 + k];
            for (std::size_t j = 0; j < 4; ++j) r[i * 4 + j] += aik * b[k * 4 + j];
        }
    return r;
}

// exp(M) by scaling and squaring: M is halved until its norm is at most 1/2,
// where a Taylor series of 20 terms is exact to rounding, and the result is
// squared back. M is small and only exponentiated when the parameters change.
Mat4 exponential(Mat4 m) noexcept {
    double normInf = 0.0;
    for (std::size_t i = 0; i < 4; ++i) {
        double row = 0.0;
        for (std::size_t j = 0; j < 4; ++j) row += std::fabs(m[i * 4 + j]);
        normInf = std::max(normInf, row);
    }
    int squarings = 0;
    while (normInf > 0.5) {
        normInf *= 0.5;
        ++squarings;
    }
    const double scale = std::ldexp(1.0, -squarings);
    for (double& e : m) e *= scale;
    Mat4 sum{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Mat4 term = sum;
    for (int n = 1; n <= 20; ++n) {
        term = multiply(term, m);
        for (double& e : term) e /= n;
        for (std::size_t i = 0; i < 16; ++i) sum[i] += term[i];
    }
    for (int i = 0; i < squarings; ++i) sum = multiply(sum, sum);
    return sum;
}

}  // namespace

// With c = 1000 / m, time scaled by the period (s = t / T) and velocity
// carried as w = v T (so every entry is dimensionless and of moderate size),
// one axis obeys
//   dx/ds = w,   dw/ds = -c k T^2 x - c b T w + r(s),
//   r(s) = c T^2 (f0 + f1 T s),
// and the input ramp r is itself the solution of dr/ds = r', dr'/ds = 0.
// The augmented state (x, w, r, r') therefore evolves by the constant matrix
// M below, and exp(M) carries it exactly over one period: its top-left block
// is the state transition, its last two columns (top two rows) the response
// to the held force and to the force's slope.
void ZohDiscretisation::update(double mass, double stiffness, double damping, double period) noexcept {
    if (mass == mass_ && stiffness == stiffness_ && damping == damping_ && period == period_) return;
    mass_ = mass;
    stiffness_ = stiffness;
    damping_ = damping;
    period_ = period;
    const double c = kAccelerationPerNewton / mass;
    const Mat4 m{0.0,
                 1.0,
                 0.0,
                 0.0,  //
                 -c * stiffness * period * period,
                 -c * damping * period,
                 1.0,
                 0.0,  //
                 0.0,
                 0.0,
                 0.0,
                 1.0,  //
                 0.0,
                 0.0,
                 0.0,
                 0.0};
    const Mat4 e = exponential(m);
    p00_ = e[0];
    p01_ = e[1];
    g0x_ = e[2];
    g1x_ = e[3];
    p10_ = e[4];
    p11_ = e[5];
    g0w_ = e[6];
    g1w_ = e[7];
}

void ZohDiscretisation::advance(double& x, double& v, double f0, double f1) const noexcept {
    const double c = kAccelerationPerNewton / mass_;
    const double t = period_;
    const double w = v * t;
    const double a0 = c * t * t * f0;
    const double a1 = c * t * t * t * f1;
    const double x1 = p00_ * x + p01_ * w + g0x_ * a0 + g1x_ * a1;
    const double w1 = p10_ * x + p11_ * w + g0w_ * a0 + g1w_ * a1;
    x = x1;
    v = w1 / t;
}

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

void StylusPhysics::setFriction(double viscous, double coulomb) noexcept {
    mech_.viscousFriction = viscous;
    mech_.coulombFriction = coulomb;
}

// One period, solved exactly for everything linear: the motor force held
// from the last command (the amplifier's zero-order hold), the hand's
// pressing force, its spring toward a target that moves in a straight line
// over the period, its damper, and viscous friction. Per axis the force is
//   F + P + k (target(t) - x) + b_hand (v_hand - v) - b_visc v,
// with target(t) = target_end - v_hand (T - t); see ZohDiscretisation.
//
// Coulomb friction is then applied as an impulse against the direction of
// motion: it removes up to c T f_c of speed (and the distance that
// deceleration costs over the period, half of it times T). A stylus that was
// at rest and that friction holds does not move at all (static friction).
// Its share of the motion is tiny (0.27 mm/s per period on the Arm 3G), so
// this first-order treatment does not disturb the exact linear part. The end
// stops are inelastic: a coordinate past a stop is put back on it and its
// outward speed is dropped.
void StylusPhysics::step(double dt, const Vec3& appliedForce) noexcept {
    if (!(dt > 0.0)) return;
    const double k = handStiffness_;
    zoh_.update(mech_.mass, k, handDamping_ + mech_.viscousFriction, dt);
    const Vec3 start = handTarget_ - handVelocity_ * dt;
    const Vec3 f0 = appliedForce + handForce_ + start * k + handVelocity_ * handDamping_;
    const Vec3 f1 = handVelocity_ * k;
    const bool atRest = velocity_.x == 0.0 && velocity_.y == 0.0 && velocity_.z == 0.0;
    Vec3 p = position_;
    Vec3 v = velocity_;
    for (std::size_t axis = 0; axis < 3; ++axis) zoh_.advance(p[axis], v[axis], f0[axis], f1[axis]);

    const double frictionDv = kAccelerationPerNewton * dt / mech_.mass * mech_.coulombFriction;
    if (frictionDv > 0.0) {
        const double speed = norm(v);
        if (speed <= frictionDv) {
            p = atRest ? position_ : p - v * (0.5 * dt);
            v = {};
        } else {
            const Vec3 slowdown = v * (frictionDv / speed);
            p -= slowdown * (0.5 * dt);
            v -= slowdown;
        }
    }

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
